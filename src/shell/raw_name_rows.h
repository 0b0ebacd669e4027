// Rows for the files of the open dialog's folder whose names are not UTF-8. Qt's file
// system model leaves such files out of its listings, so they could never be chosen; this
// proxy lists them after the model's own rows, under the names shown with replacement
// characters, and keeps each one's bytes.
//
// Threads: UI thread only.
#pragma once

#include <QDateTime>
#include <QIdentityProxyModel>
#include <QString>
#include <vector>

class QFileSystemModel;

namespace zb {

class RawNameRows : public QIdentityProxyModel {
public:
    explicit RawNameRows(QObject* parent = nullptr);

    // Lists the folder's regular files that Qt leaves out and that match the model's name
    // filters (again when the folder is entered or the filter changes).
    void refresh();
    bool isRawRow(const QModelIndex& index) const;
    // The path of a row of this proxy (the folder's path and the name's bytes, as
    // names::fromBytes gives them), else empty.
    QString pathOf(const QModelIndex& index) const;
    // The row listed under `shown` in the current folder, else an invalid index.
    QModelIndex rowNamed(const QString& shown) const;

    void setSourceModel(QAbstractItemModel* source) override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
    QModelIndex buddy(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    struct Entry {
        QString name;   // names::fromBytes form
        QString shown;  // as the list shows it
        qint64 size = 0;
        QDateTime modified;
    };

    QFileSystemModel* files() const;
    QModelIndex folderRow() const;  // the folder's row in this proxy
    bool isFolder(const QModelIndex& parent) const;
    int firstRawRow() const;
    const Entry* entryAt(const QModelIndex& index) const;

    QString folder_;  // the folder the entries are of
    std::vector<Entry> entries_;
};

}  // namespace zb
