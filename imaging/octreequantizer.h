// Octree colour quantizer: builds a palette of at most maxColors colours
// from an image's pixels.
#pragma once

#include "imaging/cxtypes.h"

class CxImage;

class COctreeQuantizer {
public:
    // colorBits is the tree depth (levels below the root); above 8 it is cut to 8.
    COctreeQuantizer(int maxColors, int colorBits);
    ~COctreeQuantizer();
    COctreeQuantizer(const COctreeQuantizer &) = delete;
    COctreeQuantizer &operator=(const COctreeQuantizer &) = delete;

    // Adds every pixel, bottom row first as a bitmap stores them, left to
    // right; reduces the tree whenever it holds more leaves than maxColors.
    // Paletted pixels give their palette entry (alpha from rgbReserved),
    // colour pixels give B, G, R and alpha 0. False for an empty image.
    bool ProcessImage(const CxImage &image);
    // Number of leaves (palette colours) found so far.
    int GetColorCount() const { return m_leafCount; }
    // Writes one entry per leaf, depth first in child order, into pal; the
    // caller's buffer holds at least GetColorCount() entries.
    void SetColorTable(RGBQUAD *pal) const;

    // Adds one colour (exposed for callers that walk their own pixels).
    void AddColor(BYTE r, BYTE g, BYTE b, BYTE a);

private:
    struct Node;
    Node *CreateNode(int level);
    // Adds a colour; returns its leaf, or null when the tree was reduced.
    Node *Insert(BYTE r, BYTE g, BYTE b, BYTE a);
    bool ReduceTree();  // false when nothing is left to merge
    static void FreeTree(Node *node);
    static void WalkTree(const Node *node, RGBQUAD *pal, int &index);

    Node *m_root = nullptr;
    Node *m_reducible[9] = {};
    int m_leafCount = 0;
    int m_maxColors;
    int m_colorBits;
};
