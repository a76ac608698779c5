#pragma once

#include <QListWidget>

// A sorted list box: items ordered by their text without regard to case, as the wizard's lists
// show them (the exact text breaks ties, so that the order is stable).
class sorted_list : public QListWidget {
public:
    explicit sorted_list(QWidget* parent);

    // Adds an item in its place and answers its row.
    int add(const QString& text);
    // The row of the item with exactly this text, or -1.
    int find_exact(const QString& text) const;
    // The row of the first item that begins with the text, compared without regard to case, or -1.
    int find_prefix(const QString& text) const;
    // The row of the only selected item, or -1.
    int selected_row() const;
    // Selects (and makes current) the row; -1 clears the selection.
    void select_row(int row);
    // The widest text put in the list since it was last emptied, in pixels.
    int widest() const { return m_widest; }
    void clear_all();

private:
    int m_widest = 0;
};
