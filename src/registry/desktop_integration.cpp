#include "registry/desktop_integration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "registry/fileass.h"

namespace zb::fileass {

namespace {

QString XmlEscape(const QString& text) {
    QString out;
    for (QChar c : text) {
        switch (c.unicode()) {
            case '&':
                out += QStringLiteral("&amp;");
                break;
            case '<':
                out += QStringLiteral("&lt;");
                break;
            case '>':
                out += QStringLiteral("&gt;");
                break;
            case '"':
                out += QStringLiteral("&quot;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool Representable(const QString& text) {
    if (text.isEmpty() || !text.isValidUtf16())
        return false;
    for (QChar c : text) {
        // U+FFFD stands for file-name bytes that are not UTF-8: the entry would name
        // another file than the one that runs.
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

QString UnescapeDesktopString(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
            case 's':
                out += QLatin1Char(' ');
                break;
            case 'n':
                out += QLatin1Char('\n');
                break;
            case 't':
                out += QLatin1Char('\t');
                break;
            case 'r':
                out += QLatin1Char('\r');
                break;
            default:
                out += next;
        }
    }
    return out;
}

// The first argument of an Exec value whose string escapes are already undone.
QString FirstExecArgument(const QString& exec) {
    QString arg;
    if (!exec.startsWith(QLatin1Char('"')))
        return exec.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    for (qsizetype i = 1; i < exec.size(); ++i) {
        if (exec[i] == QLatin1Char('"'))
            return arg;
        if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size())
            ++i;
        arg += exec[i];
    }
    return QString();  // no closing quote: not a valid Exec
}

QString ReadText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString FindOnPath(const QString& name) {
    return QStandardPaths::findExecutable(name);
}

bool SameFile(const QString& a, const QString& b) {
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// True when the file now holds `bytes`: already did, or was rewritten.
bool WriteIfDifferent(const QString& path, const QByteArray& bytes, bool* changed) {
    *changed = false;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return true;
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    if (!out.commit())
        return false;
    *changed = true;
    return true;
}

bool CacheStale(const QString& cachePath, const QString& sourcePath) {
    QFileInfo cache(cachePath);
    return !cache.exists() || cache.lastModified() < QFileInfo(sourcePath).lastModified();
}

void StartDetached(const QStringList& argv) {
    // No shell: the tool gets its arguments as they are, and the start-up does not wait.
    QProcess p;
    p.setProgram(argv.front());
    p.setArguments(argv.mid(1));
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.startDetached();
}

}  // namespace

DocumentClass SongDocumentClass(const QString& executablePath) {
    return DocumentClass{QLatin1String(kSongExtension), QLatin1String(kSongClass),
                         QLatin1String(kSongClassDescription), OpenCommand(executablePath)};
}

QString XdgDataHomeOf(const QString& dataDir) {
    return QFileInfo(QDir::cleanPath(QDir(dataDir).absolutePath())).absolutePath();
}

QString EscapeDesktopString(const QString& text) {
    QString out;
    for (QChar c : text) {
        switch (c.unicode()) {
            case '\\':
                out += QStringLiteral("\\\\");
                break;
            case '\n':
                out += QStringLiteral("\\n");
                break;
            case '\t':
                out += QStringLiteral("\\t");
                break;
            case '\r':
                out += QStringLiteral("\\r");
                break;
            default:
                out += c;
        }
    }
    // A leading blank would be taken for padding around '='.
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

std::optional<QString> QuoteExecArgument(const QString& argument) {
    if (!Representable(argument))
        return std::nullopt;
    // Always quoted, so blanks and every reserved character are plain text; inside the
    // quotes only these four need a backslash. '%' would start a field code.
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    // The value escapes of the file apply first when it is read, so they go on last.
    return EscapeDesktopString(quoted);
}

std::optional<QString> DesktopExec(const DocumentClass& cls) {
    const QString suffix = QStringLiteral(" %1");
    if (!cls.openCommand.endsWith(suffix))
        return std::nullopt;
    auto program = QuoteExecArgument(cls.openCommand.chopped(suffix.size()));
    if (!program)
        return std::nullopt;
    return *program + QStringLiteral(" %f");
}

QString MimePackageXml(const DocumentClass& cls) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"%1\">\n"
               "    <comment>%2</comment>\n"
               "    <glob pattern=\"%3\"/>\n"
               "  </mime-type>\n"
               "</mime-info>\n")
        .arg(QString::fromLatin1(kSongMimeType), XmlEscape(cls.description),
             XmlEscape(QStringLiteral("*") + cls.extension));
}

std::optional<QString> DesktopEntryText(const DocumentClass& cls) {
    auto exec = DesktopExec(cls);
    if (!exec)
        return std::nullopt;
    const QString program = cls.openCommand.chopped(3);
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Version=1.4\n"
               "Name=Zembrola\n"
               "GenericName=Step Sequencer\n"
               "Comment=Four-voice sample step sequencer\n"
               "TryExec=%1\n"
               "Exec=%2\n"
               "Icon=zembrola\n"
               "Terminal=false\n"
               "Categories=AudioVideo;Audio;Sequencer;\n"
               "MimeType=%3;\n")
        .arg(EscapeDesktopString(program), *exec, QString::fromLatin1(kSongMimeType));
}

QList<QStringList> RefreshCommands(const QString& xdgDataHome, bool refreshMime,
                                   bool refreshDesktop,
                                   const std::function<QString(const QString&)>& findTool) {
    QList<QStringList> commands;
    if (refreshMime) {
        QString tool = findTool(QStringLiteral("update-mime-database"));
        if (!tool.isEmpty())
            commands.append({tool, xdgDataHome + QStringLiteral("/mime")});
    }
    if (refreshDesktop) {
        QString tool = findTool(QStringLiteral("update-desktop-database"));
        if (!tool.isEmpty()) {
            commands.append({tool, xdgDataHome + QStringLiteral("/applications")});
        }
    }
    return commands;
}

QString EntryProgram(const QString& entryText,
                     const std::function<QString(const QString&)>& findTool) {
    QString tryExec;
    QString exec;
    bool inMainGroup = false;
    for (const QString& raw : entryText.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = UnescapeDesktopString(line.mid(eq + 1).trimmed());
        if (key == QStringLiteral("TryExec"))
            tryExec = value;
        else if (key == QStringLiteral("Exec"))
            exec = value;
    }
    const QString program = tryExec.isEmpty() ? FirstExecArgument(exec) : tryExec;
    if (program.isEmpty() || program.contains(QLatin1Char('/')))
        return program;
    return findTool(program);
}

bool InstalledEntryServes(const QStringList& systemDataDirs, const QString& executablePath) {
    for (const QString& dir : systemDataDirs) {
        const QString text =
            ReadText(dir + QStringLiteral("/applications/") + QLatin1String(kDesktopFileName));
        if (!text.isEmpty() && SameFile(EntryProgram(text, FindOnPath), executablePath))
            return true;
    }
    return false;
}

QList<QStringList> IntegrateWithDesktop(const QString& xdgDataHome, const DocumentClass& cls,
                                        const QStringList& systemDataDirs) {
    const QString mimeDir = xdgDataHome + QStringLiteral("/mime");
    const QString packagePath = mimeDir + QStringLiteral("/packages/") + kMimePackageName;
    const QString appsDir = xdgDataHome + QStringLiteral("/applications");
    const QString desktopPath = appsDir + QLatin1Char('/') + kDesktopFileName;
    const QString program = cls.openCommand.chopped(3);

    bool mimeChanged = false;
    bool mimeOk = false;
    bool desktopChanged = false;
    bool desktopOk = false;
    if (InstalledEntryServes(systemDataDirs, program)) {
        // Only what this program (or a build since removed) left behind goes; an entry of
        // another program that still exists is that program's claim.
        const QString userProgram = EntryProgram(ReadText(desktopPath), FindOnPath);
        const bool ours = QFileInfo::exists(desktopPath) &&
                          (!QFileInfo::exists(userProgram) || SameFile(userProgram, program));
        if (ours && QFile::remove(desktopPath)) {
            desktopChanged = desktopOk = true;
            if (ReadText(packagePath) == MimePackageXml(cls) && QFile::remove(packagePath))
                mimeChanged = mimeOk = true;
        }
    } else {
        mimeOk = WriteIfDifferent(packagePath, MimePackageXml(cls).toUtf8(), &mimeChanged);
        // A program path that a desktop entry cannot carry leaves the entry as it is.
        if (auto entry = DesktopEntryText(cls)) {
            desktopOk = WriteIfDifferent(desktopPath, entry->toUtf8(), &desktopChanged);
        }
    }

    const bool refreshMime =
        mimeOk && (mimeChanged || CacheStale(mimeDir + QStringLiteral("/mime.cache"), packagePath));
    const bool refreshDesktop =
        desktopOk &&
        (desktopChanged || CacheStale(appsDir + QStringLiteral("/mimeinfo.cache"), desktopPath));
    // Test runs and package build roots write the files but leave the system's databases
    // alone: ZEMBROLA_NO_DESKTOP_REFRESH=1.
    const bool allowed = qEnvironmentVariableIsEmpty("ZEMBROLA_NO_DESKTOP_REFRESH");
    const QList<QStringList> commands =
        RefreshCommands(xdgDataHome, allowed && refreshMime, allowed && refreshDesktop,
                        [](const QString& name) { return QStandardPaths::findExecutable(name); });
    for (const auto& argv : commands) StartDetached(argv);
    return commands;
}

}  // namespace zb::fileass
