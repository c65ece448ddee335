#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <utility>

/// RFC 4180 records; every record, the last one too, must end with CR LF.
inline QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c != u'"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else
                quoted = false;
        } else if (c == u'"') {
            EXPECT_TRUE(field.isEmpty() && !wasQuoted) << "a quote inside an unquoted field at " << i;
            quoted = wasQuoted = true;
        } else if (c == u',') {
            record.append(std::exchange(field, QString()));
            wasQuoted = false;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            record.append(std::exchange(field, QString()));
            records.append(std::exchange(record, QStringList()));
            wasQuoted = false;
            ++i;
        } else {
            EXPECT_FALSE(wasQuoted) << "text after a closing quote at " << i;
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "an open quote at the end";
    EXPECT_TRUE(field.isEmpty() && record.isEmpty()) << "the last record does not end with CR LF";
    return records;
}
