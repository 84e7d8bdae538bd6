#pragma once
// A small reader of darknet network descriptions for the tests: sections in
// order with their key/value lines, as darknet reads them (comment lines and
// blank lines skipped, blanks around "=" ignored).

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

struct CfgSection {
    QString name; // "net", "convolutional", "yolo", ...
    QVector<QPair<QString, QString>> keys;

    QString value(const QString& key) const
    {
        for (const auto& kv : keys)
            if (kv.first == key)
                return kv.second;
        return QString();
    }
    bool has(const QString& key) const
    {
        for (const auto& kv : keys)
            if (kv.first == key)
                return true;
        return false;
    }
};

inline QVector<CfgSection> parseCfgSections(const QString& text)
{
    QVector<CfgSection> out;
    for (const QString& raw : text.split('\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            out.push_back({line.mid(1, line.size() - 2), {}});
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq < 0 || out.isEmpty())
            continue;
        out.back().keys.push_back({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return out;
}

inline int countSections(const QVector<CfgSection>& sections, const QString& name)
{
    int n = 0;
    for (const CfgSection& s : sections)
        n += s.name == name;
    return n;
}

inline bool isDetectionSection(const CfgSection& s)
{
    return s.name == "yolo" || s.name == "region";
}
