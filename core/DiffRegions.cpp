#include "DiffRegions.h"

#include <algorithm>

bool ComesFirst(const DiffRegion& a, const DiffRegion& b)
{
    if (a.count != b.count)
        return a.count > b.count;
    if (a.top != b.top)
        return a.top < b.top;
    if (a.left != b.left)
        return a.left < b.left;
    if (a.bottom != b.bottom)
        return a.bottom < b.bottom;
    return a.right < b.right;
}

CRegionFinder::CRegionFinder(size_t kept) : m_nKept(kept)
{
}

int32_t CRegionFinder::Root(int32_t node)
{
    while (m_nodes[size_t(node)].parent != node) {
        Node& n = m_nodes[size_t(node)];
        n.parent = m_nodes[size_t(n.parent)].parent;
        node = n.parent;
    }
    return node;
}

void CRegionFinder::Join(int32_t a, int32_t b)
{
    a = Root(a);
    b = Root(b);
    if (a == b)
        return;
    DiffRegion& into = m_nodes[size_t(a)].box;
    const DiffRegion& from = m_nodes[size_t(b)].box;
    into.left = std::min(into.left, from.left);
    into.top = std::min(into.top, from.top);
    into.right = std::max(into.right, from.right);
    into.bottom = std::max(into.bottom, from.bottom);
    into.count += from.count;
    m_nodes[size_t(b)].parent = a;
}

void CRegionFinder::AddRow(int32_t y, const int32_t* xs, size_t count)
{
    if (count == 0)
        return;
    if (y != m_nLastRow + 1) {
        // Rows in between had no differing pixel: nothing open goes on.
        m_current.clear();
        CloseFinished();
        m_previous.clear();
    }
    m_nLastRow = y;

    m_current.clear();
    for (size_t i = 0; i < count;) {
        size_t j = i + 1;
        while (j < count && xs[j] == xs[j - 1] + 1)
            ++j;
        m_current.push_back({xs[i], xs[j - 1], -1});
        i = j;
    }

    // A run touches the runs above it that reach one pixel further on
    // either side; runs move right, so the first candidate only moves on.
    size_t first = 0;
    for (Run& run : m_current) {
        while (first < m_previous.size() && m_previous[first].right < run.left - 1)
            ++first;
        for (size_t k = first; k < m_previous.size() && m_previous[k].left <= run.right + 1; ++k) {
            if (run.node < 0)
                run.node = m_previous[k].node;
            else
                Join(run.node, m_previous[k].node);
        }
        const int64_t length = run.right - run.left + 1;
        if (run.node < 0) {
            run.node = int32_t(m_nodes.size());
            m_nodes.push_back({{run.left, y, run.right, y, length}, run.node, false});
            continue;
        }
        DiffRegion& box = m_nodes[size_t(Root(run.node))].box;
        box.left = std::min(box.left, run.left);
        box.right = std::max(box.right, run.right);
        box.bottom = y;
        box.count += length;
    }
    CloseFinished();
    std::swap(m_previous, m_current);
}

void CRegionFinder::CloseFinished()
{
    for (Run& run : m_current) {
        run.node = Root(run.node);
        m_nodes[size_t(run.node)].bOpen = true;
    }
    m_compacted.clear();
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        Node& node = m_nodes[i];
        if (node.parent != int32_t(i))
            continue;
        if (!node.bOpen) {
            Close(node.box);
            continue;
        }
        // The renumbered node's index stays behind in its old place.
        node.parent = int32_t(m_compacted.size());
        m_compacted.push_back({node.box, node.parent, false});
    }
    for (Run& run : m_current)
        run.node = m_nodes[size_t(run.node)].parent;
    std::swap(m_nodes, m_compacted);
}

void CRegionFinder::Close(const DiffRegion& region)
{
    if (m_largest.size() < m_nKept) {
        m_largest.push_back(region);
        std::push_heap(m_largest.begin(), m_largest.end(), ComesFirst);
        return;
    }
    ++m_nLeftOut;
    if (m_nKept > 0 && ComesFirst(region, m_largest.front())) {
        std::pop_heap(m_largest.begin(), m_largest.end(), ComesFirst);
        m_largest.back() = region;
        std::push_heap(m_largest.begin(), m_largest.end(), ComesFirst);
    }
}

void CRegionFinder::Finish()
{
    m_current.clear();
    CloseFinished();
    m_previous.clear();
    std::sort_heap(m_largest.begin(), m_largest.end(), ComesFirst);
}
