#include "ui/skin/printf_format.h"

#include <algorithm>
#include <cstdio>

namespace tovarek {

namespace {

constexpr int kMaxField = 4096;  // a hostile "%999999999d" must not allocate gigabytes

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

int64_t FormatArg::AsSigned() const {
    switch (m_kind) {
        case kSigned:
            return m_signed;
        case kUnsigned:
            return static_cast<int64_t>(m_unsigned);
        case kReal:
            return static_cast<int64_t>(m_real);
        case kText:
            return m_text.toLongLong();
    }
    return 0;
}

uint64_t FormatArg::AsUnsigned() const {
    switch (m_kind) {
        case kSigned:
            return static_cast<uint64_t>(m_signed);
        case kUnsigned:
            return m_unsigned;
        case kReal:
            return m_real < 0 ? 0 : static_cast<uint64_t>(m_real);
        case kText:
            return m_text.toULongLong();
    }
    return 0;
}

double FormatArg::AsReal() const {
    switch (m_kind) {
        case kSigned:
            return static_cast<double>(m_signed);
        case kUnsigned:
            return static_cast<double>(m_unsigned);
        case kReal:
            return m_real;
        case kText:
            return m_text.toDouble();
    }
    return 0;
}

QString FormatArg::AsText() const {
    switch (m_kind) {
        case kSigned:
            return QString::number(m_signed);
        case kUnsigned:
            return QString::number(m_unsigned);
        case kReal:
            return QString::number(m_real);
        case kText:
            return m_text;
    }
    return {};
}

QString FormatPrintf(QStringView format, const std::vector<FormatArg>& args) {
    QString out;
    out.reserve(format.size() + 16);
    size_t next = 0;
    const FormatArg* none = nullptr;
    auto take = [&]() -> const FormatArg* { return next < args.size() ? &args[next++] : none; };

    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        const qsizetype start = i++;
        if (i >= n) {  // a lone '%' at the end stays as written
            out += u'%';
            break;
        }
        if (format[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }

        std::string flags;
        while (i < n && QStringView(u"-+ #0").contains(format[i])) {
            if (flags.find(char(format[i].unicode())) == std::string::npos)
                flags += char(format[i].unicode());
            ++i;
        }
        int width = -1;
        if (i < n && format[i] == u'*') {
            const FormatArg* a = take();
            int64_t w = a ? a->AsSigned() : 0;
            if (w < 0) {  // printf: a negative '*' width means left-justified
                if (flags.find('-') == std::string::npos) flags += '-';
                w = -w;
            }
            width = int(std::min<int64_t>(w, kMaxField));
            ++i;
        } else {
            while (i < n && IsDigit(format[i])) {
                width = std::min(kMaxField, std::max(width, 0) * 10 + (format[i].unicode() - '0'));
                ++i;
            }
        }
        int precision = -1;
        if (i < n && format[i] == u'.') {
            ++i;
            precision = 0;
            if (i < n && format[i] == u'*') {
                const FormatArg* a = take();
                const int64_t p = a ? a->AsSigned() : 0;
                precision = p < 0 ? -1 : int(std::min<int64_t>(p, kMaxField));
                ++i;
            } else {
                while (i < n && IsDigit(format[i])) {
                    precision = std::min(kMaxField, precision * 10 + (format[i].unicode() - '0'));
                    ++i;
                }
            }
        }
        bool sized = false;  // an explicit length keeps 64-bit values whole
        while (i < n) {
            const QChar m = format[i];
            if (m == u'h' || m == u'L' || m == u'w') {
                ++i;
            } else if (m == u'l' || m == u'q' || m == u'j' || m == u'z' || m == u't') {
                sized = true;
                ++i;
            } else if (m == u'I') {
                sized = true;
                ++i;
                if (format.mid(i).startsWith(u"64") || format.mid(i).startsWith(u"32")) i += 2;
            } else {
                break;
            }
        }
        if (i >= n) {  // the format ends inside a conversion: copy it as written
            out += format.mid(start);
            break;
        }
        const char16_t conv = format[i].unicode();
        ++i;

        auto pad = [&](QString body) {
            if (width > body.size()) {
                const QString fill(width - body.size(), u' ');
                body = flags.find('-') != std::string::npos ? body + fill : fill + body;
            }
            out += body;
        };
        // Numbers go through the C library's own printf, on a narrow format rebuilt here.
        auto cformat = [&](const char* length, char conversion, auto value) {
            std::string f = "%" + flags;
            if (width >= 0) f += std::to_string(width);
            if (precision >= 0) f += "." + std::to_string(precision);
            f += length;
            f += conversion;
            char small[128];
            const int len = std::snprintf(small, sizeof small, f.c_str(), value);
            if (len < 0) return;
            if (size_t(len) < sizeof small) {
                out += QString::fromLatin1(small, len);
                return;
            }
            std::string big(size_t(len) + 1, '\0');
            std::snprintf(big.data(), big.size(), f.c_str(), value);
            out += QString::fromLatin1(big.data(), len);
        };

        switch (conv) {
            case u'd':
            case u'i': {
                const FormatArg* a = take();
                if (a && a->kind() == FormatArg::kText) {
                    pad(a->AsText());
                } else {
                    cformat("ll", 'd', static_cast<long long>(a ? a->AsSigned() : 0));
                }
                break;
            }
            case u'u':
            case u'o':
            case u'x':
            case u'X': {
                const FormatArg* a = take();
                if (a && a->kind() == FormatArg::kText) {
                    pad(a->AsText());
                    break;
                }
                uint64_t v = a ? a->AsUnsigned() : 0;
                if (!sized) v = static_cast<uint32_t>(v);
                cformat("ll", char(conv), static_cast<unsigned long long>(v));
                break;
            }
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
            case u'a':
            case u'A': {
                const FormatArg* a = take();
                if (a && a->kind() == FormatArg::kText) {
                    pad(a->AsText());
                } else {
                    cformat("", char(conv), a ? a->AsReal() : 0.0);
                }
                break;
            }
            case u'c':
            case u'C': {
                const FormatArg* a = take();
                QString body;
                if (a && a->kind() == FormatArg::kText) {
                    body = a->AsText().left(1);
                } else if (a) {
                    const char32_t code = static_cast<char32_t>(a->AsUnsigned());
                    if (code != 0) body = QString::fromUcs4(&code, 1);
                }
                pad(body);
                break;
            }
            case u's':
            case u'S': {
                const FormatArg* a = take();
                QString body = a ? a->AsText() : QString();
                if (precision >= 0 && body.size() > precision) body.truncate(precision);
                pad(body);
                break;
            }
            case u'p': {
                const FormatArg* a = take();
                cformat("", 'p',
                        reinterpret_cast<void*>(static_cast<uintptr_t>(a ? a->AsUnsigned() : 0)));
                break;
            }
            case u'n':
                take();  // never written through: the value is a plain number here
                break;
            default:
                out += format.mid(start, i - start);
                break;
        }
    }
    return out;
}

}  // namespace tovarek
