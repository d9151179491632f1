#include <cstdio>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include "app/Headless.h"
#include "app/LangResource.h"
#include "app/Windowed.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

#ifndef ZUNARO_VERSION
#define ZUNARO_VERSION "0.0.0"
#endif

namespace {

constexpr int kExitUsage = 2;

struct OptionHelp
{
    QString names;
    QString text;
};

void Print(FILE* to, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
}

// The help lists each option and the argument with its text, in two aligned columns.
QString HelpText(const QString& program)
{
    const OptionHelp options[] = {
        {QStringLiteral("-h, --help"), LoadString(kIdsCmdHelp)},
        {QStringLiteral("-v, --version"), LoadString(kIdsCmdVersion)},
        {QStringLiteral("--headless"), LoadString(kIdsCmdHeadless)},
    };
    const OptionHelp argument{QStringLiteral("file.znr"), LoadString(kIdsCmdFile)};
    qsizetype width = argument.names.size();
    for (const OptionHelp& o : options) {
        width = std::max(width, o.names.size());
    }
    const auto row = [width](const OptionHelp& o) {
        return QStringLiteral("  ") + o.names.leftJustified(width + 2) + o.text + u'\n';
    };
    QString text = FormatText(LoadString(kIdsCmdUsage), {program}) + u'\n' +
                   LoadString(kIdsCmdDescription) + u"\n\n"_qs + LoadString(kIdsCmdOptions) + u'\n';
    for (const OptionHelp& o : options) {
        text += row(o);
    }
    return text + u'\n' + LoadString(kIdsCmdArguments) + u'\n' + row(argument);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(ZUNARO_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const QString program = args.isEmpty() ? u"zunaro"_qs : QFileInfo(args[0]).fileName();

    // Parsed before any application object exists: --help and --version work without a
    // display, and a mistyped option never opens a window.
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_qs, u"help"_qs});
    const QCommandLineOption version(QStringList{u"v"_qs, u"version"_qs});
    const QCommandLineOption headless(u"headless"_qs);
    parser.addOptions({help, version, headless});
    parser.addPositionalArgument(u"file.znr"_qs, QString());
    if (!parser.parse(args)) {
        SelectStartupLanguage();
        const QStringList unknown = parser.unknownOptionNames();
        const QString error =
            unknown.isEmpty()
                ? parser.errorText()
                : FormatText(LoadString(kIdsCmdUnknownOption),
                             {(unknown[0].size() == 1 ? u"-"_qs : u"--"_qs) + unknown[0], program});
        Print(stderr, program + u": "_qs + error + u'\n');
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        SelectStartupLanguage(); // the help speaks the profile's language
        Print(stdout, HelpText(program));
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, program + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    // The last file named counts, as it always did.
    const QStringList files = parser.positionalArguments();
    const QString file = files.isEmpty() ? QString() : files.last();
    return parser.isSet(headless) ? RunHeadless(argc, argv, file) : RunWindowed(argc, argv, file);
}
