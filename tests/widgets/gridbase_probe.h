#pragma once

#include "TMyStringGrid.h"

#include <stdexcept>
#include <utility>
#include <vector>

// A string grid that records what the base calls on it.
class TProbeGrid : public TMyStringGrid
{
public:
    using TMyStringGrid::TMyStringGrid;

    struct TDrawn
    {
        int Col;
        int Row;
        TGridDrawState State;
        TColor Brush;
        TColor FontColor;
    };

    std::vector<TDrawn> Drawn;
    std::vector<std::pair<int, int>> SizeChanges;
    std::vector<std::pair<int, int>> RowMoves;
    int ColWidthsChanges = 0;
    bool FailSizeChange = false;

    const TDrawn* DrawnCell(int col, int row) const
    {
        const TDrawn* found = nullptr;
        for (const TDrawn& drawn : Drawn) {
            if (drawn.Col == col && drawn.Row == row)
                found = &drawn;
        }
        return found;
    }

protected:
    void DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state) override
    {
        Drawn.push_back({col, row, state, canvas.BrushColor, canvas.FontColor});
        TMyStringGrid::DrawCell(canvas, col, row, rect, state);
    }
    void SizeChanged(int oldColCount, int oldRowCount) override
    {
        SizeChanges.emplace_back(oldColCount, oldRowCount);
        if (FailSizeChange)
            throw std::runtime_error("size refused");
    }
    void ColWidthsChanged() override
    {
        ++ColWidthsChanges;
        TMyStringGrid::ColWidthsChanged();
    }
    void RowMoved(int fromIndex, int toIndex) override
    {
        RowMoves.emplace_back(fromIndex, toIndex);
        TMyStringGrid::RowMoved(fromIndex, toIndex);
    }
};
