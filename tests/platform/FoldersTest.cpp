#include <gtest/gtest.h>

#include <QDir>

#include "platform/Folders.h"
#include "support/TestSupport.h"

namespace {

struct Layout
{
    const char* name;
    const char* makeFolder; // below the test root, besides the program folder
    const char* programFolder;
    const char* expected;
};

// The program finds its resources next to itself in a build tree and in <prefix>/share/zunaro
// when installed, whatever the prefix.
const Layout kLayouts[] = {
    {"installed", "usr/share/zunaro", "usr/bin", "usr/share/zunaro"},
    {"installed, folder named with a slash", "opt/z/share/zunaro", "opt/z/bin/",
     "opt/z/share/zunaro"},
    {"installed without resources", "usr/share/other", "usr/bin", "usr/bin"},
    {"build tree", "share/zunaro", "build", "build"},
    {"build tree named bin", "src", "bin", "bin"},
};

} // namespace

TEST(Folders, ResourceFolder_BuildTreeAndInstalled)
{
    for (const Layout& l : kLayouts) {
        const QString root = FreshFolder(u"layout"_qs);
        ASSERT_TRUE(QDir().mkpath(root + u'/' + QString::fromLatin1(l.makeFolder)));
        ASSERT_TRUE(QDir().mkpath(root + u'/' + QString::fromLatin1(l.programFolder)));
        EXPECT_EQ(ResourceFolderFor(root + u'/' + QString::fromLatin1(l.programFolder)),
                  root + u'/' + QString::fromLatin1(l.expected))
            << l.name;
    }
}
