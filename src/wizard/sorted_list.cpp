#include "wizard/sorted_list.hpp"

#include <QFontMetrics>

namespace {

class sorted_item : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override {
        int order = text().compare(other.text(), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : text() < other.text();
    }
};

} // namespace

sorted_list::sorted_list(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int sorted_list::add(const QString& text) {
    auto* item = new sorted_item(text);
    addItem(item);
    m_widest = std::max(m_widest, fontMetrics().horizontalAdvance(text));
    return row(item);
}

int sorted_list::find_exact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->text() == text) return i;
    return -1;
}

int sorted_list::find_prefix(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->text().startsWith(text, Qt::CaseInsensitive)) return i;
    return -1;
}

int sorted_list::selected_row() const {
    QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.front());
}

void sorted_list::select_row(int row) {
    if (row < 0 || row >= count()) {
        clearSelection();
        return;
    }
    setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(row));
}

void sorted_list::clear_all() {
    clear();
    m_widest = 0;
}
