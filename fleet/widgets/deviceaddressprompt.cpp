#include "deviceaddressprompt.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>

namespace {

DeviceAddressPrompt::Asker &asker()
{
    static DeviceAddressPrompt::Asker current;
    return current;
}

// The text of the last addresses taken, offered again: sites are probed
// more than once.
QString &last_text()
{
    static QString text;
    return text;
}

// cursor: where to put it in text, with nothing selected; -1 selects all.
QString ask_with_dialog(QWidget *parent, const QString &text, const QString &problem, int cursor)
{
    QString label = QStringLiteral("设备的IPv4地址, 用逗号分隔, 可写范围\n"
                                   "(如 192.168.1.20-60 或 10.0.0.250-10.0.1.10):");
    if (!problem.isEmpty())
        label += QStringLiteral("\n\n格式错误: ") + problem;
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("按IP添加设备"));
    dialog.setLabelText(label);
    dialog.setTextValue(text);
    if (cursor >= 0) {
        // The dialog selects its whole text once shown; a long list corrected
        // must not go with the first keystroke.
        QTimer::singleShot(0, &dialog, [&dialog, cursor] {
            if (auto *edit = dialog.findChild<QLineEdit *>()) {
                edit->deselect();
                edit->setCursorPosition(cursor);
            }
        });
    }
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

} // namespace

QList<QHostAddress> DeviceAddressPrompt::ask(QWidget *parent)
{
    QString text = last_text();
    QString problem;
    int cursor = -1;
    forever {
        text = asker() ? asker()(parent, text, problem)
                       : ask_with_dialog(parent, text, problem, cursor);
        if (text.trimmed().isEmpty())
            return {};
        QVector<Ipv4AddressList::Entry> entries;
        Ipv4AddressList::Error error;
        if (Ipv4AddressList::parse(text, &entries, &error)) {
            last_text() = text;
            QList<QHostAddress> addresses;
            for (const Ipv4AddressList::Entry &entry : entries)
                addresses << entry.address;
            return addresses;
        }
        const QVector<Ipv4AddressList::Error> errors = Ipv4AddressList::problems(text);
        problem = problems_text(errors);
        cursor = errors.isEmpty() ? error.end : errors.first().end;
    }
}

QString DeviceAddressPrompt::problem_text(const Ipv4AddressList::Error &error)
{
    switch (error.kind) {
    case Ipv4AddressList::Error::Kind::Malformed:
        return QStringLiteral("\"%1\" 不是IPv4地址或范围").arg(error.item);
    case Ipv4AddressList::Error::Kind::Reversed:
        return QStringLiteral("\"%1\" 范围的结尾小于开头").arg(error.item);
    case Ipv4AddressList::Error::Kind::TooMany:
        return QStringLiteral("\"%1\" 超过 %2 个地址").arg(error.item).arg(error.limit);
    case Ipv4AddressList::Error::Kind::Empty:
        return QStringLiteral("多了一个逗号 (逗号之间或最后没有地址)");
    case Ipv4AddressList::Error::Kind::None:
        break;
    }
    return QString();
}

QString DeviceAddressPrompt::problems_text(const QVector<Ipv4AddressList::Error> &errors)
{
    QStringList lines;
    for (const Ipv4AddressList::Error &error : errors) {
        const QString line = problem_text(error);
        // Several doubled commas are one slip.
        if (!lines.contains(line))
            lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void DeviceAddressPrompt::set_asker(Asker chosen)
{
    asker() = std::move(chosen);
}
