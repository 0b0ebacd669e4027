#include "shell/raw_name_rows.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QLocale>
#include <QMimeDatabase>
#include <QTimer>
#include <algorithm>

#include "names/file_names.h"

namespace zb {

namespace {

// The internal pointer of the proxy's own rows; the file system model's rows carry its
// nodes' addresses, which never equal the proxy's.
void* ownTag(const RawNameRows* self) {
    return const_cast<RawNameRows*>(self);
}

}  // namespace

RawNameRows::RawNameRows(QObject* parent) : QIdentityProxyModel(parent) {}

QFileSystemModel* RawNameRows::files() const {
    return qobject_cast<QFileSystemModel*>(sourceModel());
}

void RawNameRows::setSourceModel(QAbstractItemModel* source) {
    QIdentityProxyModel::setSourceModel(source);
    if (QFileSystemModel* model = files()) {
        // The dialog changes folders through the model's root; the listing follows once the
        // dialog has shown the folder's own rows.
        connect(model, &QFileSystemModel::rootPathChanged, this,
                [this] { QTimer::singleShot(0, this, &RawNameRows::refresh); });
    }
}

bool RawNameRows::isRawRow(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && index.internalPointer() == ownTag(this);
}

QModelIndex RawNameRows::folderRow() const {
    QFileSystemModel* model = files();
    if (!model || folder_.isEmpty())
        return {};
    return QIdentityProxyModel::mapFromSource(model->index(folder_));
}

bool RawNameRows::isFolder(const QModelIndex& parent) const {
    return !entries_.empty() && !isRawRow(parent) && parent.isValid() && parent.column() == 0 &&
           parent == folderRow();
}

int RawNameRows::firstRawRow() const {
    QFileSystemModel* model = files();
    return model ? model->rowCount(model->index(folder_)) : 0;
}

const RawNameRows::Entry* RawNameRows::entryAt(const QModelIndex& index) const {
    if (!isRawRow(index))
        return nullptr;
    const int k = index.row() - firstRawRow();
    return k >= 0 && k < static_cast<int>(entries_.size()) ? &entries_[k] : nullptr;
}

void RawNameRows::refresh() {
    QFileSystemModel* model = files();
    if (!model)
        return;
    if (!entries_.empty()) {
        const int first = firstRawRow();
        beginRemoveRows(folderRow(), first, first + static_cast<int>(entries_.size()) - 1);
        entries_.clear();
        endRemoveRows();
    }
    folder_ = model->rootPath();
    std::vector<Entry> found;
    DIR* dir = ::opendir(names::toBytes(folder_).constData());
    if (dir == nullptr)
        return;
    const QStringList patterns = model->nameFilters();
    while (const dirent* e = ::readdir(dir)) {
        const QString name = names::fromBytes(e->d_name);
        // Names Qt can decode are the model's own rows; hidden files stay hidden.
        if (!names::holdsRawBytes(name) || e->d_name[0] == '.')
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        Entry entry{name, names::shown(name), static_cast<qint64>(st.st_size),
                    QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec)};
        if (!patterns.isEmpty() && !QDir::match(patterns, entry.shown))
            continue;
        found.push_back(std::move(entry));
    }
    ::closedir(dir);
    if (found.empty())
        return;
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        return QString::localeAwareCompare(a.shown, b.shown) < 0;
    });
    const int first = firstRawRow();
    beginInsertRows(folderRow(), first, first + static_cast<int>(found.size()) - 1);
    entries_ = std::move(found);
    endInsertRows();
}

QString RawNameRows::pathOf(const QModelIndex& index) const {
    const Entry* entry = entryAt(index);
    if (!entry)
        return {};
    return folder_.endsWith(u'/') ? folder_ + entry->name : folder_ + u'/' + entry->name;
}

QModelIndex RawNameRows::rowNamed(const QString& shown) const {
    for (size_t k = 0; k < entries_.size(); ++k) {
        if (entries_[k].shown == shown)
            return createIndex(firstRawRow() + static_cast<int>(k), 0, ownTag(this));
    }
    return {};
}

QModelIndex RawNameRows::index(int row, int column, const QModelIndex& parent) const {
    if (isFolder(parent)) {
        const int first = firstRawRow();
        if (row >= first) {
            if (row >= first + static_cast<int>(entries_.size()) || column < 0 ||
                column >= columnCount(parent))
                return {};
            return createIndex(row, column, ownTag(this));
        }
    }
    return QIdentityProxyModel::index(row, column, parent);
}

QModelIndex RawNameRows::parent(const QModelIndex& child) const {
    if (isRawRow(child))
        return folderRow();
    return QIdentityProxyModel::parent(child);
}

QModelIndex RawNameRows::sibling(int row, int column, const QModelIndex& index) const {
    if (isRawRow(index) || (isFolder(index.parent()) && row >= firstRawRow()))
        return this->index(row, column, parent(index));
    return QIdentityProxyModel::sibling(row, column, index);
}

QModelIndex RawNameRows::buddy(const QModelIndex& index) const {
    return isRawRow(index) ? index : QIdentityProxyModel::buddy(index);
}

int RawNameRows::rowCount(const QModelIndex& parent) const {
    if (isRawRow(parent))
        return 0;
    const int own = QIdentityProxyModel::rowCount(parent);
    return isFolder(parent) ? own + static_cast<int>(entries_.size()) : own;
}

bool RawNameRows::hasChildren(const QModelIndex& parent) const {
    if (isRawRow(parent))
        return false;
    return isFolder(parent) || QIdentityProxyModel::hasChildren(parent);
}

bool RawNameRows::canFetchMore(const QModelIndex& parent) const {
    return !isRawRow(parent) && QIdentityProxyModel::canFetchMore(parent);
}

void RawNameRows::fetchMore(const QModelIndex& parent) {
    if (!isRawRow(parent))
        QIdentityProxyModel::fetchMore(parent);
}

QModelIndex RawNameRows::mapToSource(const QModelIndex& proxyIndex) const {
    return isRawRow(proxyIndex) ? QModelIndex() : QIdentityProxyModel::mapToSource(proxyIndex);
}

QVariant RawNameRows::data(const QModelIndex& index, int role) const {
    if (!isRawRow(index))
        return QIdentityProxyModel::data(index, role);
    const Entry* entry = entryAt(index);
    if (!entry)
        return {};
    if (role == QFileSystemModel::FilePathRole)
        return pathOf(index);
    switch (index.column()) {
        case 0:
            if (role == Qt::DisplayRole || role == Qt::EditRole ||
                role == QFileSystemModel::FileNameRole)
                return entry->shown;
            if (role == Qt::DecorationRole || role == QFileSystemModel::FileIconRole) {
                QFileSystemModel* model = files();
                if (model && model->iconProvider())
                    return model->iconProvider()->icon(QAbstractFileIconProvider::File);
            }
            break;
        case 1:
            if (role == Qt::DisplayRole)
                return QLocale::system().formattedDataSize(entry->size);
            if (role == Qt::TextAlignmentRole)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            break;
        case 2:
            if (role == Qt::DisplayRole)
                return QMimeDatabase()
                    .mimeTypeForFile(entry->shown, QMimeDatabase::MatchExtension)
                    .comment();
            break;
        case 3:
            if (role == Qt::DisplayRole)
                return QLocale::system().toString(entry->modified, QLocale::ShortFormat);
            break;
        default:
            break;
    }
    return {};
}

Qt::ItemFlags RawNameRows::flags(const QModelIndex& index) const {
    if (isRawRow(index))
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    return QIdentityProxyModel::flags(index);
}

bool RawNameRows::setData(const QModelIndex& index, const QVariant& value, int role) {
    // The dialog renames through the model; a name Qt cannot write is not renamed.
    return !isRawRow(index) && QIdentityProxyModel::setData(index, value, role);
}

}  // namespace zb
