// The pool of large buffers that finished parses leave for the next one,
// and the huge-page advice its fresh buffers get.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

#include "collections/huge_pages.hpp"
#include "collections/spare_buffers.hpp"
#include "document/document.hpp"
#include "proc_maps.hpp"

using namespace kogane;

namespace {

constexpr size_t kLarge = SpareBufferLimits::kMinBytes;

std::string buffer_of(size_t capacity) {
    std::string s;
    s.reserve(capacity);
    s.assign(100, 'x');
    return s;
}

}  // namespace

TEST(SpareBuffers, TakenBackOnlyWhereTheyFit) {
    release_spare_buffers();
    std::string kept = buffer_of(2 * kLarge);
    const char* storage = kept.data();
    const size_t capacity = kept.capacity();
    keep_spare_buffer(std::move(kept));
    EXPECT_EQ(spare_buffer_bytes(), capacity);

    // Too small to be worth keeping, or too small a request for it.
    keep_spare_buffer(buffer_of(kLarge / 2));
    EXPECT_EQ(spare_buffer_bytes(), capacity);
    EXPECT_NE(take_spare_buffer(kLarge / 2).data(), storage);
    EXPECT_NE(take_spare_buffer(capacity / SpareBufferLimits::kMaxOversize - 1).data(), storage);
    EXPECT_NE(take_spare_buffer(capacity + 1).data(), storage);  // too large a request
    EXPECT_EQ(spare_buffer_bytes(), capacity);

    std::string taken = take_spare_buffer(kLarge);
    EXPECT_EQ(taken.data(), storage);
    EXPECT_TRUE(taken.empty());  // handed over cleared
    EXPECT_GE(taken.capacity(), kLarge);
    EXPECT_EQ(spare_buffer_bytes(), 0u);
    EXPECT_NE(take_spare_buffer(kLarge).data(), storage);  // taken once only
}

TEST(SpareBuffers, BoundedInNumberAndBytes) {
    release_spare_buffers();
    for (size_t i = 0; i < SpareBufferLimits::kMaxBuffers + 3; ++i) keep_spare_buffer(buffer_of(kLarge + i * 4096));
    EXPECT_LE(spare_buffer_bytes(), SpareBufferLimits::kMaxBuffers * (kLarge + 64 * 4096));
    // The smallest make way for larger ones: the largest kept is the last.
    const size_t largest = kLarge + (SpareBufferLimits::kMaxBuffers + 2) * 4096;
    EXPECT_GE(take_spare_buffer(largest).capacity(), largest);
    // One buffer past the byte bound is never kept.
    keep_spare_buffer(buffer_of(SpareBufferLimits::kMaxBytes + 1));
    EXPECT_LE(spare_buffer_bytes(), SpareBufferLimits::kMaxBytes);
    const size_t held = spare_buffer_bytes();
    EXPECT_GT(held, 0u);
    EXPECT_EQ(release_spare_buffers(), held);
    EXPECT_EQ(spare_buffer_bytes(), 0u);
}

// A document's texts go back to the pool when it goes, and the next parse
// of a book of that size writes into them: the same storage, the same
// result.
TEST(SpareBuffers, DocumentsHandTheirTextsOn) {
    std::string crlf, lf;
    for (int i = 0; crlf.size() < 2 * kLarge; ++i) {
        const std::string line = "｜銀河" + std::to_string(i) + "《ぎんが》の停車場［＃「停車場」に傍点］";
        crlf += line + "\r\n";
        lf += line + "\n";
    }
    for (const std::string& text : {crlf, lf}) {
        SCOPED_TRACE(text.size());
        release_spare_buffers();
        auto first = parse_bytes(text);
        ASSERT_TRUE(std::holds_alternative<DocPtr>(first));
        const std::string normalized = std::get<DocPtr>(first)->snapshot().normalized;
        const std::string source(std::get<DocPtr>(first)->source());
        const char* normalized_storage = std::get<DocPtr>(first)->snapshot().normalized.data();
        const char* text_storage = std::get<DocPtr>(first)->snapshot().sanitized->data();
        first = DecodeFailure::Malformed;  // the document goes
        EXPECT_GT(spare_buffer_bytes(), text.size());  // both texts

        auto second = parse_bytes(text);
        ASSERT_TRUE(std::holds_alternative<DocPtr>(second));
        const KoganeDoc& doc = *std::get<DocPtr>(second);
        // Both buffers again, each wherever it fits (two of one size may
        // trade places).
        const std::set<const char*> before = {normalized_storage, text_storage};
        EXPECT_EQ(before, (std::set<const char*>{doc.snapshot().normalized.data(), doc.snapshot().sanitized->data()}));
        EXPECT_EQ(doc.snapshot().normalized, normalized);
        EXPECT_EQ(doc.source(), source);
        EXPECT_EQ(doc.source(), text);
    }
    release_spare_buffers();
}

TEST(SpareBlocks, KeptAtTheirFullSizeAndTakenWhereTheyFit) {
    release_spare_buffers();
    void* block = take_spare_block(2 * kLarge);
    static_cast<char*>(block)[2 * kLarge - 1] = 'x';  // all of it is usable
    keep_spare_block(block);
    EXPECT_EQ(spare_block_bytes(), 2 * kLarge);

    void* other = take_spare_block(2 * kLarge + 1);  // too large a request
    EXPECT_NE(other, block);
    void* small = take_spare_block(2 * kLarge / SpareBlockLimits::kMaxOversize - 1);  // too small
    EXPECT_NE(small, block);
    EXPECT_EQ(spare_block_bytes(), 2 * kLarge);

    void* taken = take_spare_block(kLarge);
    EXPECT_EQ(taken, block);
    EXPECT_EQ(spare_block_bytes(), 0u);
    keep_spare_block(taken);  // kept again at its whole size, not the request's
    EXPECT_EQ(spare_block_bytes(), 2 * kLarge);
    EXPECT_EQ(take_spare_block(2 * kLarge), block);
    keep_spare_block(block);
    keep_spare_block(other);
    keep_spare_block(small);
    EXPECT_EQ(release_spare_buffers(), 2 * kLarge + (2 * kLarge + 1) + (2 * kLarge / SpareBlockLimits::kMaxOversize - 1));
    EXPECT_EQ(spare_block_bytes(), 0u);
}

TEST(SpareBlocks, BoundedInNumberAndBytes) {
    release_spare_buffers();
    const size_t count = SpareBlockLimits::kMaxBlocks + 3;
    std::vector<void*> blocks;
    for (size_t i = 0; i < count; ++i) blocks.push_back(take_spare_block(kLarge + i * 4096));
    for (void* b : blocks) keep_spare_block(b);
    // The smallest made way for the larger ones.
    size_t expected = 0;
    for (size_t i = count - SpareBlockLimits::kMaxBlocks; i < count; ++i) expected += kLarge + i * 4096;
    EXPECT_EQ(spare_block_bytes(), expected);
    EXPECT_EQ(take_spare_block(kLarge + (count - 1) * 4096), blocks.back());
    keep_spare_block(blocks.back());
    // One block past the byte bound is never kept.
    keep_spare_block(take_spare_block(SpareBlockLimits::kMaxBytes + 1));
    EXPECT_EQ(spare_block_bytes(), expected);
    EXPECT_EQ(release_spare_buffers(), expected);
}

TEST(SpareBlocks, VectorsKeepTheirContentsAndHandTheirBlocksOn) {
    release_spare_buffers();
    std::set<const void*> storage;
    {
        SpareVector<uint32_t> v;
        for (uint32_t i = 0; i < 3 * kLarge / sizeof(uint32_t); ++i) v.push_back(i);  // grows through the bound
        for (uint32_t i = 0; i < v.size(); i += 4099) ASSERT_EQ(v[i], i);
        SpareVector<uint32_t> copy = v;
        EXPECT_EQ(copy, v);
        storage = {v.data(), copy.data()};
    }
    EXPECT_GT(spare_block_bytes(), 3 * kLarge);
    SpareVector<uint32_t> next;
    next.reserve(3 * kLarge / sizeof(uint32_t));
    EXPECT_EQ(storage.count(next.data()), 1u);  // the copy's block: the smallest that fits
    // Small arrays never touch the pool.
    const size_t kept = spare_block_bytes();
    { SpareVector<uint32_t> small(16, 7); }
    EXPECT_EQ(spare_block_bytes(), kept);
    release_spare_buffers();
}

namespace {

bool huge_pages_on_advice() {
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    return std::getline(setting, line) && line.find("[never]") == std::string::npos;
}

}  // namespace

TEST(HugePages, LargeFreshBuffersAreAdvisedAndAdviceNeverHurts) {
    // Ranges too small, unaligned or absent are left alone.
    advise_huge_pages(nullptr, size_t(64) << 20);
    char small[64] = "kept";
    advise_huge_pages(small, sizeof small);
    EXPECT_STREQ(small, "kept");

    // Advice on written pages keeps what they hold.
    std::string written(kHugePageAdviceBytes * 2 + 12345, 'a');
    written[kHugePageAdviceBytes] = 'b';
    advise_huge_pages(written.data() + 1, written.size() - 1);
    EXPECT_EQ(written[kHugePageAdviceBytes], 'b');
    EXPECT_EQ(std::count(written.begin(), written.end(), 'a'), static_cast<std::ptrdiff_t>(written.size() - 1));

    if (!huge_pages_on_advice()) GTEST_SKIP() << "no transparent huge pages here";
    release_spare_buffers();
    void* block = take_spare_block(kHugePageAdviceBytes * 2);
    const std::string flags = proc::mapping_of(static_cast<char*>(block) + kHugePageAdviceBytes).flags;
    if (flags.empty()) GTEST_SKIP() << "no /proc/self/smaps here";
    EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
    keep_spare_block(block);
    std::string text = take_spare_buffer(kHugePageAdviceBytes * 2);
    EXPECT_NE(proc::mapping_of(text.data() + kHugePageAdviceBytes).flags.find(" hg"), std::string::npos);
    release_spare_buffers();
}
