#include "codec/huffman_tree.h"

#include <algorithm>

void HuffmanTree::Initialise() {
    for (HuffmanNode& node : nodes) node = HuffmanNode{0, 0, 0};
    nodes[kHuffmanRoot].child = kHuffmanEscapeLeaf;
    for (uint16_t& leaf : leaf_of_symbol) leaf = kHuffmanNoLeaf;
    escape_leaf = kHuffmanRoot;
    next_free = kHuffmanRoot;
}

int32_t HuffmanTree::Insert(uint32_t symbol) {
    symbol &= 0xFF;
    if (leaf_of_symbol[symbol] != kHuffmanNoLeaf || next_free < 2) return -1;
    uint32_t old_escape = escape_leaf;
    uint32_t n = next_free - 2;
    next_free = n;
    nodes[n] = HuffmanNode{0, static_cast<uint16_t>(old_escape), kHuffmanEscapeLeaf};
    nodes[n + 1] = HuffmanNode{0, static_cast<uint16_t>(old_escape), static_cast<int32_t>(kHuffmanLeafFlag | symbol)};
    nodes[old_escape].child = static_cast<int32_t>(n);
    escape_leaf = n;
    leaf_of_symbol[symbol] = static_cast<uint16_t>(n + 1);
    return static_cast<int32_t>(n + 1);
}

void HuffmanTree::Exchange(uint32_t a, uint32_t b) {
    std::swap(nodes[a].weight, nodes[b].weight);
    std::swap(nodes[a].child, nodes[b].child);
    for (uint32_t at : {a, b}) {
        int32_t child = nodes[at].child;
        if (child >= 0) {
            nodes[child].parent = static_cast<uint16_t>(at);
            nodes[child + 1].parent = static_cast<uint16_t>(at);
        } else if (child == kHuffmanEscapeLeaf) {
            escape_leaf = at;
        } else {
            leaf_of_symbol[child & 0xFF] = static_cast<uint16_t>(at);
        }
    }
}

void HuffmanTree::Increment(uint32_t leaf) {
    uint32_t node = leaf;
    for (;;) {
        uint16_t weight = nodes[node].weight;
        uint32_t last = node;
        while (last < kHuffmanRoot && nodes[last + 1].weight == weight) ++last;
        // Never exchange a node with its own parent.
        if (node != kHuffmanRoot && last == nodes[node].parent) --last;
        if (last > node) {
            Exchange(node, last);
            node = last;
        }
        ++nodes[node].weight;
        if (node == kHuffmanRoot) break;
        node = nodes[node].parent;
    }
    if (nodes[kHuffmanRoot].weight >= kHuffmanRebuildWeight) Rebuild();
}

// Rebuilds the tree from its leaves with halved weights, placing nodes in the
// order a two-queue Huffman merge consumes them, so that weights rise with
// the node index and siblings are adjacent.
void HuffmanTree::Rebuild() {
    struct Item {
        uint32_t weight;
        int32_t leaf;         // leaf code, or 0 for an internal item
        uint32_t first_item;  // internal: item of its first child
        uint32_t index;       // node index once placed
    };
    Item items[kHuffmanNodes];
    uint32_t leaves = 0;
    for (uint32_t i = next_free; i <= kHuffmanRoot; ++i) {
        if (nodes[i].child < 0) {
            items[leaves++] = Item{(nodes[i].weight + 1u) >> 1, nodes[i].child, 0, 0};
        }
    }
    if (leaves < 2) return;
    std::stable_sort(items, items + leaves, [](const Item& a, const Item& b) { return a.weight < b.weight; });

    uint32_t count = leaves;
    uint32_t leaf_head = 0, internal_head = leaves;
    uint32_t position = kHuffmanRoot + 2 - 2 * leaves;
    auto take = [&]() -> uint32_t {
        uint32_t item;
        if (leaf_head < leaves && (internal_head >= count || items[leaf_head].weight <= items[internal_head].weight)) {
            item = leaf_head++;
        } else {
            item = internal_head++;
        }
        items[item].index = position++;
        return item;
    };
    next_free = position;
    for (uint32_t k = 0; k + 1 < leaves; ++k) {
        uint32_t a = take();
        uint32_t b = take();
        items[count++] = Item{items[a].weight + items[b].weight, 0, a, 0};
    }
    items[count - 1].index = kHuffmanRoot;

    for (uint32_t i = 0; i < count; ++i) {
        const Item& item = items[i];
        HuffmanNode& node = nodes[item.index];
        node.weight = static_cast<uint16_t>(item.weight);
        if (i < leaves) {
            node.child = item.leaf;
            if (item.leaf == kHuffmanEscapeLeaf) {
                escape_leaf = item.index;
            } else {
                leaf_of_symbol[item.leaf & 0xFF] = static_cast<uint16_t>(item.index);
            }
        } else {
            uint32_t first = items[item.first_item].index;
            node.child = static_cast<int32_t>(first);
            nodes[first].parent = static_cast<uint16_t>(item.index);
            nodes[first + 1].parent = static_cast<uint16_t>(item.index);
        }
    }
}

void HuffmanTreeBlock::Reset(uint32_t mode) {
    for (uint32_t i = 0; i < kHuffmanTrees; ++i) {
        HuffmanTree* tree = &storage[i];
        if (mode == 0 && i != 0 && i != kHuffmanRunTree) {
            tree = &storage[0];
        } else {
            tree->Initialise();
        }
        trees[i] = tree;
    }
}
