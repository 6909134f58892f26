// Adaptive Huffman trees with an escape leaf for symbols not yet seen. Nodes
// are kept in order of non-decreasing weight, the root last, so that a leaf's
// increment only ever exchanges it with a node further up that order.
#pragma once

#include <cstdint>

constexpr uint32_t kHuffmanNodes = 513;
constexpr uint32_t kHuffmanRoot = 512;
constexpr uint32_t kHuffmanTrees = 257;
constexpr uint32_t kHuffmanRunTree = 256;
constexpr uint16_t kHuffmanNoLeaf = 0xFFFF;
constexpr int32_t kHuffmanEscapeLeaf = -1;
constexpr uint32_t kHuffmanLeafFlag = 0x80000000u;
constexpr uint32_t kHuffmanRebuildWeight = 0x4000;
constexpr uint32_t kHuffmanFreezeWeight = 0x3FFF;

struct HuffmanNode {
    uint16_t weight;
    uint16_t parent;
    // >= 0: index of the first of two adjacent children; otherwise a leaf,
    // 0x80000000 | symbol, or -1 for the escape leaf.
    int32_t child;
};

struct HuffmanTree {
    HuffmanNode nodes[kHuffmanNodes];
    uint16_t leaf_of_symbol[256];
    uint32_t escape_leaf;
    uint32_t next_free;

    // An empty tree is a root that is itself the escape leaf.
    void Initialise();
    // Splits the escape leaf into the symbol and a new escape leaf, both of
    // weight 0. Returns the new leaf, or -1 when the symbol is present
    // already or the tree is full (only a damaged stream asks for either).
    int32_t Insert(uint32_t symbol);
    // One more occurrence of a leaf; halves every leaf weight once the root
    // is heavy enough.
    void Increment(uint32_t leaf);

private:
    void Exchange(uint32_t a, uint32_t b);
    void Rebuild();
};

struct HuffmanTreeBlock {
    HuffmanTree* trees[kHuffmanTrees];
    HuffmanTree storage[kHuffmanTrees];

    // mode 0: trees 0..255 are one shared tree.
    void Reset(uint32_t mode);
};
