#include "JsonText.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace velantro::standins {

std::optional<std::u16string> JsonStringAt(std::string_view json,
                                           std::initializer_list<std::u16string_view> path) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError) {
        return std::nullopt;
    }
    QJsonValue value = document.object();
    for (const std::u16string_view name : path) {
        value =
            value.toObject().value(QStringView(name.data(), static_cast<qsizetype>(name.size())));
    }
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString().toStdU16String();
}

} // namespace velantro::standins
