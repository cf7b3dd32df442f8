#include "windowsfilenames.h"

#include <QStringList>

namespace {

// Characters no Windows file name may hold besides the control characters.
const QLatin1String refused_characters("<>:\"/\\|?*");

// The device names, compared without regard to case. The superscript digits count as digits
// here, as they do for Windows.
bool is_device_name(const QString &base)
{
    static const QStringList plain = { QStringLiteral("CON"), QStringLiteral("PRN"),
        QStringLiteral("AUX"), QStringLiteral("NUL"), QStringLiteral("CONIN$"),
        QStringLiteral("CONOUT$") };
    if (plain.contains(base, Qt::CaseInsensitive))
        return true;
    if (base.size() != 4)
        return false;
    const QStringRef port = base.leftRef(3);
    const QChar digit = base.at(3);
    const bool numbered = (digit >= QLatin1Char('0') && digit <= QLatin1Char('9'))
            || digit == QChar(0x00b9) || digit == QChar(0x00b2) || digit == QChar(0x00b3);
    return numbered
            && (port.compare(QLatin1String("COM"), Qt::CaseInsensitive) == 0
                    || port.compare(QLatin1String("LPT"), Qt::CaseInsensitive) == 0);
}

} // namespace

QString WindowsFileNames::unfit_reason(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    for (const QChar character : name) {
        if (character.unicode() < 0x20)
            return QStringLiteral("the name holds a control character");
        if (refused_characters.contains(character) && character != QLatin1Char(':'))
            return QStringLiteral("the name holds '%1', which Windows does not allow")
                    .arg(character);
    }
    return misread_reason(name);
}

QString WindowsFileNames::misread_reason(const QString &name)
{
    if (name.contains(QLatin1Char(':')))
        return QStringLiteral("the name holds ':', which Windows does not allow");
    if (name.endsWith(QLatin1Char('.')))
        return QStringLiteral("the name ends in a dot, which Windows drops");
    if (name.endsWith(QLatin1Char(' ')))
        return QStringLiteral("the name ends in a space, which Windows drops");
    // Windows ignores the extension and the spaces before it: "nul .txt" is the device too.
    QString base = name.left(name.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    if (is_device_name(base))
        return QStringLiteral("\"%1\" is a device name on Windows").arg(base.toUpper());
    return QString();
}
