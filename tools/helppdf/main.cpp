// Renders the Markdown user guide to the PDF that Help Contents opens:
//   zunaro_helppdf <guide.md> <out.pdf> [icon.svg]
// The optional icon is drawn at the head of the first page.

#include <cstdio>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

namespace {

constexpr int kResolution = 300; // dots per inch of the PDF's coordinate space
constexpr int kIconPixels = 256;
constexpr double kBodyPointSize = 10.5;

int Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "zunaro_helppdf: %s: %s\n", what, qPrintable(detail));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Fonts and layout need a GUI application, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: zunaro_helppdf <guide.md> <out.pdf> [icon.svg]\n");
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        return Fail("cannot read", args[1] + QStringLiteral(": ") + source.errorString());
    }

    QTextDocument doc;
    QFont font = doc.defaultFont();
    font.setPointSizeF(kBodyPointSize);
    doc.setDefaultFont(font);
    doc.setMarkdown(QString::fromUtf8(source.readAll()), QTextDocument::MarkdownDialectGitHub);
    doc.setMetaInformation(QTextDocument::DocumentTitle, QStringLiteral("Zunaro User Guide"));

    if (args.size() == 4) {
        QSvgRenderer svg(args[3]);
        if (!svg.isValid()) {
            return Fail("not an SVG image", args[3]);
        }
        QImage icon(kIconPixels, kIconPixels, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        svg.render(&painter);
        painter.end();
        doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("zunaro-icon")), icon);
        QTextCursor cursor(&doc);
        cursor.movePosition(QTextCursor::Start);
        cursor.insertBlock();
        cursor.movePosition(QTextCursor::Start);
        QTextBlockFormat block;
        block.setAlignment(Qt::AlignLeft);
        cursor.setBlockFormat(block);
        QTextImageFormat image;
        image.setName(QStringLiteral("zunaro-icon"));
        image.setWidth(64);
        image.setHeight(64);
        cursor.insertImage(image);
    }

    // Written through a temporary file: a failed run never leaves half a PDF behind.
    QSaveFile out(args[2]);
    if (!out.open(QIODevice::WriteOnly)) {
        return Fail("cannot write", args[2] + QStringLiteral(": ") + out.errorString());
    }
    {
        QPdfWriter writer(&out);
        writer.setResolution(kResolution);
        writer.setTitle(QStringLiteral("Zunaro User Guide"));
        writer.setCreator(QStringLiteral("Zunaro"));
        // The document adds its own 2 cm margin and the page numbers.
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        doc.print(&writer);
    }
    if (!out.commit()) {
        return Fail("cannot write", args[2] + QStringLiteral(": ") + out.errorString());
    }
    return 0;
}
