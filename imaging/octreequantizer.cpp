#include "imaging/octreequantizer.h"

#include "imaging/cximage.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr BYTE kMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

}  // namespace

struct COctreeQuantizer::Node {
    bool leaf = false;
    std::uint64_t pixelCount = 0;
    // 64-bit: a single colour over a 24-megapixel image overflows 32 bits.
    std::uint64_t redSum = 0;
    std::uint64_t greenSum = 0;
    std::uint64_t blueSum = 0;
    std::uint64_t alphaSum = 0;
    Node *child[8] = {};
    Node *next = nullptr;  // next reducible node of the same level
};

COctreeQuantizer::COctreeQuantizer(int maxColors, int colorBits)
    : m_maxColors(std::max(1, maxColors)), m_colorBits(std::clamp(colorBits, 0, 8))
{
}

COctreeQuantizer::~COctreeQuantizer()
{
    FreeTree(m_root);
}

COctreeQuantizer::Node *COctreeQuantizer::CreateNode(int level)
{
    Node *node = new Node;
    node->leaf = level == m_colorBits;
    if (node->leaf) {
        ++m_leafCount;
    } else {
        node->next = m_reducible[level];
        m_reducible[level] = node;
    }
    return node;
}

void COctreeQuantizer::AddColor(BYTE r, BYTE g, BYTE b, BYTE a)
{
    Insert(r, g, b, a);
}

COctreeQuantizer::Node *COctreeQuantizer::Insert(BYTE r, BYTE g, BYTE b, BYTE a)
{
    if (!m_root)
        m_root = CreateNode(0);
    Node *node = m_root;
    int level = 0;
    while (!node->leaf) {
        const int shift = 7 - level;
        const int index = (((r & kMask[level]) >> shift) << 2) | (((g & kMask[level]) >> shift) << 1) |
                          ((b & kMask[level]) >> shift);
        if (!node->child[index])
            node->child[index] = CreateNode(level + 1);
        node = node->child[index];
        ++level;
    }
    ++node->pixelCount;
    node->redSum += r;
    node->greenSum += g;
    node->blueSum += b;
    node->alphaSum += a;
    if (m_leafCount <= m_maxColors)
        return node;
    while (m_leafCount > m_maxColors && ReduceTree()) {
    }
    return nullptr;
}

bool COctreeQuantizer::ReduceTree()
{
    int level = m_colorBits - 1;
    while (level > 0 && !m_reducible[level])
        --level;
    if (level < 0 || !m_reducible[level])
        return false;
    Node *node = m_reducible[level];
    m_reducible[level] = node->next;
    node->next = nullptr;
    int children = 0;
    for (Node *&c : node->child) {
        if (!c)
            continue;
        node->pixelCount += c->pixelCount;
        node->redSum += c->redSum;
        node->greenSum += c->greenSum;
        node->blueSum += c->blueSum;
        node->alphaSum += c->alphaSum;
        FreeTree(c);
        c = nullptr;
        ++children;
    }
    node->leaf = true;
    m_leafCount -= children - 1;
    return true;
}

bool COctreeQuantizer::ProcessImage(const CxImage &image)
{
    if (!image.IsValid())
        return false;
    const int bpp = image.GetBpp();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
        return false;
    const int width = image.GetWidth();

    RGBQUAD pal[256] = {};
    if (bpp != 24) {
        const int n = std::min(image.GetNumColors(), 256);
        std::copy(image.GetPalette(), image.GetPalette() + n, pal);
    }

    // Runs of one colour are common. They reach the same leaf, and adding to
    // an existing leaf never reduces the tree, so the leaf stays valid until
    // an insertion that reduced the tree (which returns null).
    Node *cached = nullptr;
    std::uint32_t cachedKey = 0;
    auto add = [&](BYTE r, BYTE g, BYTE b, BYTE a) {
        const std::uint32_t key = std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | b;
        if (cached && key == cachedKey) {
            ++cached->pixelCount;
            cached->redSum += r;
            cached->greenSum += g;
            cached->blueSum += b;
            cached->alphaSum += a;
            return;
        }
        cached = Insert(r, g, b, a);
        cachedKey = key;
    };

    for (int y = image.GetHeight() - 1; y >= 0; --y) {
        const BYTE *row = image.GetBits(y);
        if (bpp == 24) {
            for (int x = 0; x < width; ++x, row += 3)
                add(row[2], row[1], row[0], 0);
        } else {
            for (int x = 0; x < width; ++x) {
                const RGBQUAD &c = pal[row[x]];
                add(c.rgbRed, c.rgbGreen, c.rgbBlue, c.rgbReserved);
            }
        }
    }
    return true;
}

void COctreeQuantizer::SetColorTable(RGBQUAD *pal) const
{
    if (!pal)
        return;
    int index = 0;
    WalkTree(m_root, pal, index);
}

void COctreeQuantizer::WalkTree(const Node *node, RGBQUAD *pal, int &index)
{
    if (!node)
        return;
    if (node->leaf) {
        const std::uint64_t n = node->pixelCount ? node->pixelCount : 1;
        RGBQUAD &c = pal[index++];
        c.rgbBlue = BYTE(node->blueSum / n);
        c.rgbGreen = BYTE(node->greenSum / n);
        c.rgbRed = BYTE(node->redSum / n);
        c.rgbReserved = BYTE(node->alphaSum / n);
        return;
    }
    for (const Node *c : node->child)
        WalkTree(c, pal, index);
}

void COctreeQuantizer::FreeTree(Node *node)
{
    // Depth is at most 8 levels, so recursion stays shallow.
    if (!node)
        return;
    for (Node *c : node->child)
        FreeTree(c);
    delete node;
}
