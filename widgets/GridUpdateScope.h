#pragma once

// Opens an update bracket of a grid unless the owner already holds one, so
// that an operation inside the owner's bracket does not end it early.
template <typename Grid> class TUpdateScope
{
public:
    explicit TUpdateScope(Grid& grid) : m_grid(grid), m_opened(!grid.NowUpdating())
    {
        if (m_opened)
            m_grid.BeginUpdate();
    }
    ~TUpdateScope() { Close(); }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

    void Close()
    {
        if (m_opened) {
            m_opened = false;
            m_grid.EndUpdate();
        }
    }

private:
    Grid& m_grid;
    bool m_opened;
};
