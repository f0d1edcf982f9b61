#pragma once

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QIdentityProxyModel>
#include <QPointer>

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
        m_flat = qobject_cast<QAbstractTableModel *>(source)
                         || qobject_cast<QAbstractListModel *>(source)
                     ? source
                     : nullptr;
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
        if (column != 0)
            return {};
        // A view asks for an index of every row it paints or selects, many times over: over a
        // flat model, whose indexes carry no pointer, the identity's own way (the source's
        // index, mapped back) gives the same index at several times the cost.
        if (m_flat && !parent.isValid())
            return row >= 0 && row < m_flat->rowCount() ? createIndex(row, 0) : QModelIndex();
        return QIdentityProxyModel::index(row, column, parent);
    }

private:
    // The source when its indexes are flat, else null; null too once it is gone, as the
    // proxy then shows an empty model of its own.
    QPointer<const QAbstractItemModel> m_flat;
};
