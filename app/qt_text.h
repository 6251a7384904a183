#pragma once
// Conversions between the core's UTF-8 texts and Qt's strings, and between
// the core's CR LF line breaks and the single "\n" Qt's widgets use.

#include <QString>
#include <string>
#include <string_view>

namespace dalimor {

inline QString ToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStd(const QString& text) {
  return text.toUtf8().toStdString();
}

// "\r\n" (and a lone "\r") becomes "\n", for showing core texts in widgets.
inline QString ToDisplayLines(std::string_view text) {
  QString shown = ToQt(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

// The lines of a widget's text joined by CR LF, as the core keeps them.
inline std::string FromDisplayLines(const QString& text) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return ToStd(lines);
}

}  // namespace dalimor
