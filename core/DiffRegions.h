#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A group of differing pixels that touch each other, sides or corners: the
// smallest rectangle around them (edges included) and how many they are.
struct DiffRegion
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int64_t count = 0;
};

// Whether `a` comes before `b` in a list of regions: the larger first, then
// the one that starts higher, then further left.
bool ComesFirst(const DiffRegion& a, const DiffRegion& b);

// Finds the regions of a picture's differing pixels in one pass over its
// rows, top to bottom. It holds the runs of two rows, the regions they
// belong to and the largest regions finished: memory grows with the width
// and the regions kept, never with the height.
class CRegionFinder
{
public:
    explicit CRegionFinder(size_t kept);

    // The differing pixels of picture row y, left to right; rows come in
    // order, and rows without any may be left out.
    void AddRow(int32_t y, const int32_t* xs, size_t count);
    // Closes the regions still open; call once, after the last row.
    void Finish();

    // The largest regions, at most `kept`, first to last by ComesFirst.
    const std::vector<DiffRegion>& Largest() const { return m_largest; }
    // How many regions there were beyond those.
    int64_t LeftOut() const { return m_nLeftOut; }

private:
    struct Run
    {
        int32_t left;
        int32_t right;
        int32_t node;
    };
    struct Node
    {
        DiffRegion box;
        int32_t parent;
        bool bOpen;  // a run of the newest row belongs to it
    };

    int32_t Root(int32_t node);
    void Join(int32_t a, int32_t b);
    // Closes the regions of the previous row that the newest one did not
    // continue, and renumbers the open ones from 0.
    void CloseFinished();
    void Close(const DiffRegion& region);

    size_t m_nKept;
    std::vector<Run> m_previous;
    std::vector<Run> m_current;
    std::vector<Node> m_nodes;
    std::vector<Node> m_compacted;
    std::vector<DiffRegion> m_largest;  // a heap with the one to drop first on top, until Finish
    int64_t m_nLeftOut = 0;
    int32_t m_nLastRow = -2;
};
