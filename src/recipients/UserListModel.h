#pragma once

#include <vector>

#include <QAbstractTableModel>
#include <QIcon>

class CUser;

// The rows of the recipient list dialog: one CUser pointer per row, in the order shown, with
// every text made on demand (ID is the row's 1-based position; User, Telephone and E-Mail are
// read from the user when a row is painted), so ten thousand recipients cost one pointer
// each. The pointers belong to the recipient list; the dialog empties the model whenever it
// is not shown, and edits of the list happen only on the user-interface thread.
class CUserListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        ColumnId = 0,
        ColumnName = 1,
        ColumnTelephone = 2,
        ColumnMail = 3,
        ColumnCount = 4
    };

    explicit CUserListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Makes rows the whole list (an empty vector empties it).
    void SetRows(std::vector<CUser*> rows);
    // Appends rows at the end. Returns the row of the first one.
    int AppendRows(const std::vector<CUser*>& rows);
    // The user of row, or null outside the list.
    CUser* UserAt(int row) const;
    const std::vector<CUser*>& Rows() const { return m_rows; }
    // Repaints every row (users changed in place).
    void RefreshAll();
    // Orders the rows by column with the locale's case-sensitive comparison, reversed when
    // descending; rows that compare equal keep their order, so the ID column changes nothing.
    // Selections and other persistent indexes follow their users.
    void Sort(int column, bool descending);

    // The image every row shows: a small person, drawn once.
    static QIcon UserIcon();

private:
    std::vector<CUser*> m_rows;
};
