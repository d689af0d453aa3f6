#pragma once

#include <QListWidget>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace trenn {

// lstParts: a list whose items each carry a check box, a text and a 32-bit item data. An item
// counts as selected while it is checked; the item selection of the view plays no part.
class PartList : public QListWidget {
    Q_OBJECT

public:
    explicit PartList(QWidget* parent = nullptr);

    // Removes every item; NewIndex() is -1 again. No ItemCheck.
    void Clear();
    // Appends an unchecked item; returns its index, which NewIndex() reports from then on.
    int AddItem(const QString& text);
    // Index of the item added last; -1 before the first.
    int NewIndex() const { return newIndex_; }
    int ListCount() const { return count(); }

    // An index outside 0 .. ListCount() - 1 throws std::out_of_range.
    std::int32_t ItemData(int index) const;
    void SetItemData(int index, std::int32_t value);
    bool Selected(int index) const;
    // Every item's check mark, in list order.
    std::vector<bool> Ticks() const;
    // Sets the check mark as a click would, ItemCheck included when it changes.
    void SetSelected(int index, bool checked);
    // Ticks or clears every item at once: AllChecked once, no ItemCheck. The list's context
    // menu offers both.
    void SetAllSelected(bool checked);

    // Where an item's tooltip comes from; asked when the tooltip is about to show, once per item.
    void SetToolTipSource(std::function<QString(int index)> source) { toolTipSource_ = std::move(source); }

signals:
    // Exactly once for every change of an item's check mark, after the change.
    void ItemCheck(int index);
    // After SetAllSelected.
    void AllChecked(bool checked);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class PartListItem;
    QListWidgetItem* ItemAt(int index) const;
    void CheckChanged(const QListWidgetItem* item);

    int newIndex_ = -1;
    bool quiet_ = false;  // no ItemCheck while SetAllSelected runs
    std::function<QString(int)> toolTipSource_;
};

}  // namespace trenn
