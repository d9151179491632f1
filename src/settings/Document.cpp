#include "settings/Document.h"

#include <QFile>
#include <QFileInfo>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"

namespace {

const QString kUntitled = QStringLiteral("Untitled");

} // namespace

void CRecentFileList::Load()
{
    m_files.clear();
    for (const ProfileStringKey& key : kProfileRecentFiles) {
        const QString file = GetProfileString(key);
        if (!file.isEmpty() && !m_files.contains(file)) {
            m_files << file;
        }
    }
}

void CRecentFileList::Add(const QString& path)
{
    if (path.isEmpty()) {
        return;
    }
    const QString full = QFileInfo(path).absoluteFilePath();
    m_files.removeAll(full);
    m_files.prepend(full);
    while (m_files.size() > kSize) {
        m_files.removeLast();
    }
    Store();
}

void CRecentFileList::Remove(const QString& path)
{
    if (m_files.removeAll(path) > 0) {
        Store();
    }
}

void CRecentFileList::Store() const
{
    for (int i = 0; i < kSize; ++i) {
        WriteProfileString(kProfileRecentFiles[i], At(i));
    }
}

CDocument::CDocument(QObject* parent) : QObject(parent), m_title(kUntitled)
{
    m_recent.Load();
}

CDocument::~CDocument() = default;

void CDocument::SetPathName(const QString& path, bool addToRecent)
{
    m_pathName = QFileInfo(path).absoluteFilePath();
    SetTitle(QFileInfo(path).fileName());
    if (addToRecent) {
        m_recent.Add(m_pathName);
    }
}

void CDocument::SetTitle(const QString& title)
{
    if (title != m_title) {
        m_title = title;
        emit titleChanged(m_title);
    }
}

void CDocument::SetSavePrompt(std::function<SaveAnswer(const QString&)> prompt)
{
    m_savePrompt = std::move(prompt);
}

void CDocument::SetFileNamePrompt(std::function<QString(const QString&)> prompt)
{
    m_fileNamePrompt = std::move(prompt);
}

bool CDocument::SaveModified()
{
    if (!m_modified || !m_savePrompt) {
        return true;
    }
    switch (m_savePrompt(m_title)) {
    case SaveAnswer::Save:
        return DoFileSave();
    case SaveAnswer::Discard:
        return true;
    case SaveAnswer::Cancel:
        return false;
    }
    return false;
}

bool CDocument::NewDocument()
{
    return SaveModified() && OnNewDocument();
}

bool CDocument::OpenDocument(const QString& path)
{
    if (!SaveModified() || !OnOpenDocument(path)) {
        return false;
    }
    SetPathName(path);
    return true;
}

bool CDocument::SaveAs(const QString& path)
{
    return DoSave(path, true);
}

void CDocument::DeleteContents()
{
    m_modified = false;
}

bool CDocument::OnNewDocument()
{
    DeleteContents();
    m_pathName.clear();
    SetTitle(kUntitled);
    m_modified = false;
    return true;
}

bool CDocument::OnOpenDocument(const QString& path)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    file.close();
    DeleteContents();
    m_modified = false;
    return true;
}

bool CDocument::OnSaveDocument(const QString&)
{
    m_modified = false;
    return true;
}

bool CDocument::DoFileSave()
{
    return DoSave(m_pathName, true);
}

bool CDocument::DoSave(const QString& path, bool replace)
{
    QString target = path;
    if (target.isEmpty()) {
        if (!m_fileNamePrompt) {
            return false;
        }
        target = m_fileNamePrompt(m_pathName.isEmpty() ? m_title : m_pathName);
        if (target.isEmpty()) {
            return false;
        }
    }
    if (!OnSaveDocument(target)) {
        return false;
    }
    if (replace) {
        SetPathName(target);
    }
    return true;
}
