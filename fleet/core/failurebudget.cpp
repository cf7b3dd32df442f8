#include "failurebudget.h"

#include <algorithm>

namespace {

// Digits of max_value.
constexpr int max_digits = 6;

} // namespace

int FailureBudget::allowed(int device_count) const
{
    if (!is_on())
        return -1;
    return percent ? int(qint64(device_count) * value / whole_percent) : value;
}

bool FailureBudget::parse(const QString &text, FailureBudget *budget)
{
    QString number = text.trimmed();
    const bool is_percent = number.endsWith(QLatin1Char('%'));
    if (is_percent)
        number.chop(1);
    // Digits only: toInt() would take a sign or spaces.
    if (number.isEmpty() || number.size() > max_digits
            || !std::all_of(number.cbegin(), number.cend(),
                    [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
        return false;
    const int value = number.toInt();
    if (value > (is_percent ? whole_percent : max_value))
        return false;
    budget->value = value;
    budget->percent = is_percent;
    return true;
}

QString FailureBudget::text() const
{
    if (!is_on())
        return QString();
    return QString::number(value) + (percent ? QStringLiteral("%") : QString());
}
