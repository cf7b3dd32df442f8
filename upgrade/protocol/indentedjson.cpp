#include "indentedjson.h"

#include <QJsonDocument>

QByteArray IndentedJson::write(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}
