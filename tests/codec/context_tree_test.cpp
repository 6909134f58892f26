#include <gtest/gtest.h>

#include "codec/symbol_model.h"
#include "codec_test_support.h"

TEST(ContextTree, RoundTripsTheCorpus) {
    for (const CorpusItem& item : MakeCorpus()) {
        for (uint32_t flags : {0u, 1u, 3u}) {
            Bytes coded = EncodeContextTree(item.data, flags);
            EXPECT_EQ(coded.size() % 4, 0u);
            EXPECT_EQ(DecodeContextTree(coded, item.data.size()), item.data) << item.name << " flags " << flags;
        }
    }
}
