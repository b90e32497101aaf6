// The in-place sort shared by the typed value arrays: it sees a range of element positions only
// through a three-way compare and a swap of two positions, so one algorithm serves raw numbers,
// bit arrays, owned strings and several parallel arrays moved together.
//
// Choices made where several were possible:
// - Ranges of fewer than 10 elements are sorted by selection: the largest element of the unsorted
//   part (the first one found among equals) is swapped to its end.
// - Larger ranges are partitioned around the median of the first, middle and last elements, with
//   cursors that stop on elements equal to the pivot, so sorted, reversed and duplicate-heavy
//   data split evenly. Parts are handled without recursion: the larger part waits on a stack
//   (its depth stays below 32 for any 32-bit count) while the smaller goes on. A range that has
//   been split more than 2 log2 n times is finished by heap sort, so no input goes quadratic.
// - The sort is not stable.
// - Every cursor is bounded by the range itself: a compare that is no strict weak ordering (NaN
//   reals, a faulty callback) gives some order but never a read or swap outside the range.
#pragma once

#include <bit>
#include <cstdint>

namespace zorn::detail
{

constexpr int32_t kSelectionSortLimit = 10;

// inCompare (a, b) answers < 0, 0 or > 0 for the wanted order; inSwap (a, b) exchanges two
// positions. Both take positions within [inFirst, inLast].
template <class TCompare, class TSwap>
void SelectionSortRange(int32_t inFirst, int32_t inLast, TCompare& inCompare, TSwap& inSwap)
{
    for (int32_t end = inLast; end > inFirst; --end)
    {
        int32_t largest = inFirst;
        for (int32_t i = inFirst + 1; i <= end; ++i)
        {
            if (inCompare(i, largest) > 0)
            {
                largest = i;
            }
        }
        if (largest != end)
        {
            inSwap(largest, end);
        }
    }
}

template <class TCompare, class TSwap>
void HeapSortRange(int32_t inFirst, int32_t inLast, TCompare& inCompare, TSwap& inSwap)
{
    const int64_t count = static_cast<int64_t>(inLast) - inFirst + 1;
    auto siftDown = [&](int64_t inRoot, int64_t inSize)
    {
        for (;;)
        {
            int64_t child = 2 * inRoot + 1;
            if (child >= inSize)
            {
                return;
            }
            if (child + 1 < inSize && inCompare(static_cast<int32_t>(inFirst + child),
                                                static_cast<int32_t>(inFirst + child + 1)) < 0)
            {
                ++child;
            }
            if (inCompare(static_cast<int32_t>(inFirst + inRoot), static_cast<int32_t>(inFirst + child)) >= 0)
            {
                return;
            }
            inSwap(static_cast<int32_t>(inFirst + inRoot), static_cast<int32_t>(inFirst + child));
            inRoot = child;
        }
    };
    for (int64_t i = count / 2 - 1; i >= 0; --i)
    {
        siftDown(i, count);
    }
    for (int64_t end = count - 1; end > 0; --end)
    {
        inSwap(inFirst, static_cast<int32_t>(inFirst + end));
        siftDown(0, end);
    }
}

// Sorts the inclusive range [inFirst, inLast]; nothing happens for fewer than 2 elements.
template <class TCompare, class TSwap>
void QuickSortRange(int32_t inFirst, int32_t inLast, TCompare inCompare, TSwap inSwap)
{
    if (inLast <= inFirst)
    {
        return;
    }
    struct Pending
    {
        int32_t fFirst;
        int32_t fLast;
        int32_t fDepth;
    };
    // The smaller part goes on at once, so each waiting range is at most half of the one below.
    Pending stack[32];
    int32_t top = 0;
    int32_t lo = inFirst;
    int32_t hi = inLast;
    int32_t depth = 2 * static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(hi - lo + 1)));
    for (;;)
    {
        bool done = false;
        if (hi - lo + 1 < kSelectionSortLimit)
        {
            SelectionSortRange(lo, hi, inCompare, inSwap);
            done = true;
        }
        else if (depth <= 0)
        {
            HeapSortRange(lo, hi, inCompare, inSwap);
            done = true;
        }
        else
        {
            --depth;
            // Median of three into the middle, then to the front as the pivot; the last element
            // is then not smaller than the pivot.
            int32_t mid = lo + (hi - lo + 1) / 2;
            if (inCompare(mid, lo) < 0)
            {
                inSwap(mid, lo);
            }
            if (inCompare(hi, mid) < 0)
            {
                inSwap(hi, mid);
                if (inCompare(mid, lo) < 0)
                {
                    inSwap(mid, lo);
                }
            }
            inSwap(lo, mid);
            int32_t i = lo;
            int32_t j = hi + 1;
            for (;;)
            {
                do
                {
                    ++i;
                } while (i < hi && inCompare(i, lo) < 0);
                do
                {
                    --j;
                } while (j > lo && inCompare(j, lo) > 0);
                if (i >= j)
                {
                    break;
                }
                inSwap(i, j);
            }
            if (j != lo)
            {
                inSwap(lo, j);
            }
            // Parts [lo, j - 1] and [j + 1, hi].
            int32_t leftCount = j - lo;
            int32_t rightCount = hi - j;
            Pending larger = leftCount >= rightCount ? Pending{lo, j - 1, depth} : Pending{j + 1, hi, depth};
            Pending smaller = leftCount >= rightCount ? Pending{j + 1, hi, depth} : Pending{lo, j - 1, depth};
            if (larger.fLast > larger.fFirst)
            {
                stack[top++] = larger;
            }
            if (smaller.fLast > smaller.fFirst)
            {
                lo = smaller.fFirst;
                hi = smaller.fLast;
            }
            else
            {
                done = true;
            }
        }
        if (done)
        {
            if (top == 0)
            {
                return;
            }
            --top;
            lo = stack[top].fFirst;
            hi = stack[top].fLast;
            depth = stack[top].fDepth;
        }
    }
}

} // namespace zorn::detail
