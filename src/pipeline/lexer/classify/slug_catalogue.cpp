#include "pipeline/lexer/classify/slug_catalogue.hpp"

namespace kogane {

namespace {

#include "keyword_catalogue.inc"

}  // namespace

std::span<const SlugRecord> slug_catalogue() { return kCatalogue; }

}  // namespace kogane
