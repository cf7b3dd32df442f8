#include "deviceaddressprompt.h"

#include <QInputDialog>

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

QString ask_with_dialog(QWidget *parent, const QString &text, const QString &problem)
{
    QString label = QStringLiteral("设备的IPv4地址, 用逗号分隔, 可写范围\n"
                                   "(如 192.168.1.20-60 或 10.0.0.250-10.0.1.10):");
    if (!problem.isEmpty())
        label += QStringLiteral("\n\n格式错误: ") + problem;
    bool accepted = false;
    const QString typed = QInputDialog::getText(
            parent, QStringLiteral("按IP添加设备"), label, QLineEdit::Normal, text, &accepted);
    return accepted ? typed : QString();
}

} // namespace

QList<QHostAddress> DeviceAddressPrompt::ask(QWidget *parent)
{
    QString text = last_text();
    QString problem;
    forever {
        text = asker() ? asker()(parent, text, problem) : ask_with_dialog(parent, text, problem);
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
        problem = problem_text(error);
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
    case Ipv4AddressList::Error::Kind::None:
        break;
    }
    return QString();
}

void DeviceAddressPrompt::set_asker(Asker chosen)
{
    asker() = std::move(chosen);
}
