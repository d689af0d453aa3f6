#include "qt/part_list.h"

#include <QContextMenuEvent>
#include <QMenu>

#include <optional>
#include <stdexcept>
#include <string>

namespace trenn {

namespace {
constexpr int kItemDataRole = Qt::UserRole;
}  // namespace

// itemChanged fires for every role (text, item data, check state) and cannot tell which one
// changed, so the item watches its own check state instead.
class PartListItem : public QListWidgetItem {
public:
    explicit PartListItem(const QString& text) : QListWidgetItem(text, nullptr, QListWidgetItem::UserType) {}

    QListWidgetItem* clone() const override { return new PartListItem(*this); }

    // The tooltip is worked out when first asked for: for large parts it takes a while.
    QVariant data(int role) const override {
        if (role != Qt::ToolTipRole) return QListWidgetItem::data(role);
        if (!toolTip_) {
            auto* list = qobject_cast<PartList*>(listWidget());
            if (!list || !list->toolTipSource_) return {};
            toolTip_ = list->toolTipSource_(list->row(this));
        }
        return *toolTip_;
    }

    void setData(int role, const QVariant& value) override {
        if (role != Qt::CheckStateRole) {
            QListWidgetItem::setData(role, value);
            return;
        }
        const Qt::CheckState before = checkState();
        QListWidgetItem::setData(role, value);
        if (checkState() == before) return;
        if (auto* list = qobject_cast<PartList*>(listWidget())) list->CheckChanged(this);
    }

private:
    mutable std::optional<QString> toolTip_;
};

PartList::PartList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    // The list holds part names, never edited in place; Space goes to the check box.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void PartList::Clear() {
    clear();
    newIndex_ = -1;
}

int PartList::AddItem(const QString& text) {
    auto* item = new PartListItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);  // not yet in a list: no ItemCheck
    item->setData(kItemDataRole, QVariant::fromValue<std::int32_t>(0));
    addItem(item);
    newIndex_ = row(item);
    return newIndex_;
}

QListWidgetItem* PartList::ItemAt(int index) const {
    if (index < 0 || index >= count()) {
        throw std::out_of_range("lstParts: no item " + std::to_string(index));
    }
    return item(index);
}

std::int32_t PartList::ItemData(int index) const {
    return ItemAt(index)->data(kItemDataRole).value<std::int32_t>();
}

void PartList::SetItemData(int index, std::int32_t value) {
    ItemAt(index)->setData(kItemDataRole, QVariant::fromValue(value));
}

bool PartList::Selected(int index) const { return ItemAt(index)->checkState() == Qt::Checked; }

std::vector<bool> PartList::Ticks() const {
    std::vector<bool> ticks(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i) ticks[static_cast<std::size_t>(i)] = item(i)->checkState() == Qt::Checked;
    return ticks;
}

void PartList::SetSelected(int index, bool checked) {
    ItemAt(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void PartList::SetAllSelected(bool checked) {
    quiet_ = true;
    for (int i = 0; i < count(); ++i) item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    quiet_ = false;
    emit AllChecked(checked);
}

void PartList::CheckChanged(const QListWidgetItem* changed) {
    if (!quiet_) emit ItemCheck(row(changed));
}

void PartList::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* tickAll = menu.addAction(tr("Tick all parts"));
    QAction* clearAll = menu.addAction(tr("Clear all parts"));
    tickAll->setEnabled(count() > 0);
    clearAll->setEnabled(count() > 0);
    const QAction* chosen = menu.exec(event->globalPos());
    if (chosen == tickAll) SetAllSelected(true);
    if (chosen == clearAll) SetAllSelected(false);
}

}  // namespace trenn
