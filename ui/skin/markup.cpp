#include "ui/skin/markup.h"

#include <QList>
#include <climits>

namespace tovarek {

namespace {

// Sizes beyond this are typing errors or attacks; they would only overflow layout arithmetic.
constexpr int kMaxPixels = 10000;

// A decimal integer, optionally signed, surrounded by nothing but blanks.
bool ParseInt(QStringView text, int& value) {
    text = text.trimmed();
    if (text.isEmpty()) return false;
    bool negative = false;
    qsizetype i = 0;
    if (text[0] == u'-' || text[0] == u'+') {
        negative = text[0] == u'-';
        ++i;
    }
    if (i >= text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
        if (v > INT_MAX) return false;
    }
    value = int(negative ? -v : v);
    return true;
}

int ClampPixels(int v) {
    return v < 0 ? 0 : (v > kMaxPixels ? kMaxPixels : v);
}

// A face size below zero means nothing; the face keeps its natural size.
bool ParseSize(QStringView text, int& value) {
    int v = 0;
    if (!ParseInt(text, v) || v < 0) return false;
    value = ClampPixels(v);
    return true;
}

// Position of the '/' that closes the block opened at 0, or -1. Slashes inside single quotes
// belong to a caption; when quotes do not pair up, the first later slash closes the block.
qsizetype FindBlockEnd(QStringView s) {
    bool quoted = false;
    for (qsizetype i = 1; i < s.size(); ++i) {
        if (s[i] == u'\'') quoted = !quoted;
        if (s[i] == u'/' && !quoted) return i;
    }
    return s.indexOf(u'/', 1);
}

// Splits the block at commas outside quotes.
QList<QStringView> SplitAttributes(QStringView block) {
    QList<QStringView> items;
    bool quoted = false;
    qsizetype from = 0;
    for (qsizetype i = 0; i < block.size(); ++i) {
        if (block[i] == u'\'') quoted = !quoted;
        if (block[i] == u',' && !quoted) {
            items.append(block.mid(from, i - from));
            from = i + 1;
        }
    }
    items.append(block.mid(from));
    return items;
}

QString Unquote(QStringView value) {
    value = value.trimmed();
    if (value.size() >= 2 && value.front() == u'\'' && value.back() == u'\'')
        return value.mid(1, value.size() - 2).toString();
    if (!value.isEmpty() && value.front() == u'\'') return value.mid(1).toString();
    return value.toString();
}

void ApplyAttribute(Markup& m, QStringView item) {
    const qsizetype eq = item.indexOf(u'=');
    const QStringView name = (eq < 0 ? item : item.left(eq)).trimmed();
    const QStringView value = eq < 0 ? QStringView() : item.mid(eq + 1);
    int number = 0;
    if (name == u"a") {
        m.clickable = eq < 0 || !(ParseInt(value, number) && number == 0);
    } else if (name == u"p5") {
        if (ParseInt(value, number) && number > 0) m.imageId = number;
    } else if (name == u"btn_width") {
        ParseSize(value, m.btnWidth);
    } else if (name == u"btn_height") {
        ParseSize(value, m.btnHeight);
    } else if (name == u"btn_text") {
        if (eq >= 0) {
            m.hasBtnText = true;
            m.btnText = Unquote(value);
        }
    } else if (name == u"btn_type") {
        if (ParseInt(value, number)) m.twoState = number == 1;
    } else if (name == u"linkl") {
        if (ParseInt(value, number)) m.link = number == 1;
    } else if (name == u"line_width") {
        // A window narrower than its margins asks for less than nothing: it gets no room.
        if (ParseInt(value, number)) m.lineWidth = ClampPixels(number);
    }
    // Anything else is someone else's attribute: ignored.
}

}  // namespace

Markup ParseMarkup(QStringView s) {
    Markup m;
    QStringView text = s;
    if (!s.isEmpty() && s[0] == u'/') {
        const qsizetype end = FindBlockEnd(s);
        if (end > 0) {
            for (QStringView item : SplitAttributes(s.mid(1, end - 1))) ApplyAttribute(m, item);
            text = s.mid(end + 1);
        }
    }
    if (m.twoState) {
        const qsizetype split = text.indexOf(u"//");
        if (split >= 0) {
            m.text = text.left(split).toString();
            m.text2 = text.mid(split + 2).toString();
        } else {
            m.text = m.text2 = text.toString();
        }
    } else {
        m.text = text.toString();
    }
    return m;
}

}  // namespace tovarek
