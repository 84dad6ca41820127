#pragma once
// Forward references: annotations that name quoted targets in the text
// before them (［＃「東京」に傍点］) and say what to do with them.

#include <string_view>

#include "pipeline/lexer/classify/directive.hpp"

namespace kogane {

enum class ForwardStatus : uint8_t {
    NotForward,      // no forward form applies; the dispatcher goes on
    TargetNotFound,  // 縦中横 whose target is not in the text before
    Classified,
};

struct ForwardOutcome {
    ForwardStatus status = ForwardStatus::NotForward;
    AnnotationResult result;
};

// `body` is the trimmed annotation body.
ForwardOutcome classify_forward(const AnnotationInput& in, std::string_view body);

// Whether `target` occurs in the sanitized text before `offset`.
bool target_precedes(const AnnotationInput& in, std::string_view target, uint32_t offset);

}  // namespace kogane
