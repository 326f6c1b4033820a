// printf-style composition of UI texts. The arguments are typed values rather than C varargs, so
// a format that asks for more arguments than were given, or for the wrong kind, can never read
// past them: a missing argument prints nothing and a mismatched one prints in its own kind.
// "%n" is never honoured. Pure functions, safe from any thread.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tovarek {

class FormatArg {
public:
    enum Kind { kSigned, kUnsigned, kReal, kText };

    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T> &&
                                               !std::is_same_v<T, char>,
                                           int> = 0>
    FormatArg(T v) : m_kind(kSigned), m_signed(v) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                               !std::is_same_v<T, bool>,
                                           int> = 0>
    FormatArg(T v) : m_kind(kUnsigned), m_unsigned(v) {}
    FormatArg(bool v) : m_kind(kSigned), m_signed(v ? 1 : 0) {}
    FormatArg(char v) : m_kind(kSigned), m_signed(static_cast<unsigned char>(v)) {}
    FormatArg(char16_t v) : m_kind(kUnsigned), m_unsigned(v) {}
    FormatArg(double v) : m_kind(kReal), m_real(v) {}
    FormatArg(float v) : m_kind(kReal), m_real(v) {}
    FormatArg(const QString& v) : m_kind(kText), m_text(v) {}
    FormatArg(QStringView v) : m_kind(kText), m_text(v.toString()) {}
    FormatArg(const std::u16string& v) : m_kind(kText), m_text(QString::fromStdU16String(v)) {}
    FormatArg(std::u16string_view v)
        : m_kind(kText), m_text(QString::fromUtf16(v.data(), qsizetype(v.size()))) {}
    FormatArg(const char16_t* v) : m_kind(kText), m_text(v ? QString::fromUtf16(v) : QString()) {}
    // Narrow strings are UTF-8.
    FormatArg(const char* v) : m_kind(kText), m_text(v ? QString::fromUtf8(v) : QString()) {}
    FormatArg(const std::string& v) : m_kind(kText), m_text(QString::fromStdString(v)) {}

    Kind kind() const { return m_kind; }
    int64_t AsSigned() const;
    uint64_t AsUnsigned() const;
    double AsReal() const;
    QString AsText() const;

private:
    Kind m_kind;
    int64_t m_signed = 0;
    uint64_t m_unsigned = 0;
    double m_real = 0;
    QString m_text;
};

// Supports the flags "-+ #0", width and precision (also "*"), the length modifiers h hh l ll
// L q j z t I I32 I64 (read and ignored except for the 32-bit wrap of %u/%x/%o without one), and
// the conversions d i u o x X c C s S f F e E g G a A p %. An unknown conversion is copied as
// written. Widths and precisions are capped at 4096.
QString FormatPrintf(QStringView format, const std::vector<FormatArg>& args);

template <typename... Args>
QString FormatText(QStringView format, const Args&... args) {
    return FormatPrintf(format, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace tovarek
