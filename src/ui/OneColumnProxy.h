#pragma once

#include <QIdentityProxyModel>

// A model of many columns as a list shows it: column 0 alone. A list view draws only its
// model column, but its accessible children (what a screen reader reads out) and its
// repaints would take every column: here the other columns, and their changes, are not
// there.
class OneColumnProxy final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    void setSourceModel(QAbstractItemModel *source) override
    {
        if (QAbstractItemModel *old = sourceModel())
            disconnect(old, &QAbstractItemModel::dataChanged, this, nullptr);
        QIdentityProxyModel::setSourceModel(source);
        if (!source)
            return;
        // In place of the identity's own forwarding: only what changed in column 0.
        disconnect(source, &QAbstractItemModel::dataChanged, this, nullptr);
        connect(source, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &topLeft, const QModelIndex &bottomRight,
                       const QList<int> &roles) {
                    if (topLeft.column() > 0 || topLeft.parent().isValid())
                        return;
                    emit dataChanged(index(topLeft.row(), 0), index(bottomRight.row(), 0), roles);
                });
    }

    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() || !sourceModel() ? 0 : std::min(1, sourceModel()->columnCount());
    }
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override
    {
        return column == 0 ? QIdentityProxyModel::index(row, column, parent) : QModelIndex();
    }
};
