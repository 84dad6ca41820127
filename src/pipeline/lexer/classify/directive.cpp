#include "pipeline/lexer/classify/directive.hpp"

#include "pipeline/lexer/classify/directive_rules.hpp"

namespace kogane {

std::optional<AnnotationResult> classify_annotation(const AnnotationInput& in) { return classify_directive(in); }

}  // namespace kogane
