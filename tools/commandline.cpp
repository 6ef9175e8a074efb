#include "commandline.h"

#include <QTextStream>

namespace nx7::Setup {

Result<int> Invocation::number(const QString &option, int min, int max, int fallback) const
{
    if (!has(option))
        return fallback;
    bool ok = false;
    const int result = value(option).toInt(&ok);
    if (ok && result >= min && result <= max)
        return result;
    return Error::make(ErrorNumber::Overflow,
                       QStringLiteral("--%1 \"%2\" non valido: va da %3 a %4.")
                           .arg(option, value(option))
                           .arg(min)
                           .arg(max));
}

QString Command::usage() const
{
    return QStringLiteral("nx7setup %1 %2").arg(name, arguments).trimmed();
}

std::variant<Invocation, UsageError> parseArguments(const Command &command,
                                                    const QStringList &words)
{
    Invocation invocation;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (!word.startsWith(QStringLiteral("--")) || word == QStringLiteral("--")) {
            invocation.arguments.append(word);
            continue;
        }
        QString name = word.mid(2);
        QString value;
        const qsizetype equals = name.indexOf(u'=');
        const bool valueInWord = equals >= 0;
        if (valueInWord) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (command.flagNames.contains(name) && !valueInWord) {
            invocation.options.insert(name, QString());
        } else if (command.valueNames.contains(name)) {
            if (!valueInWord) {
                if (i + 1 >= words.size())
                    return UsageError{QStringLiteral("manca il valore di --%1.").arg(name)};
                value = words.at(++i);
            }
            invocation.options.insert(name, value);
        } else {
            return UsageError{QStringLiteral("opzione sconosciuta: %1.").arg(word)};
        }
    }
    const qsizetype given = invocation.arguments.size();
    if (given < command.argumentCount)
        return UsageError{
            QStringLiteral("manca %1.")
                .arg(command.argumentNames.value(int(given), QStringLiteral("un argomento")))};
    if (given > command.argumentCount && !command.moreArguments)
        return UsageError{QStringLiteral("argomento in più: %1.")
                              .arg(invocation.arguments.at(command.argumentCount))};
    return invocation;
}

QString usageErrorText(const Command &command, const QString &reason)
{
    return QStringLiteral("nx7setup %1: %2\nUso: %3\nPer l'aiuto: nx7setup %1 --help\n")
        .arg(command.name, reason, command.usage());
}

QString toolHelp(const QList<Command> &commands)
{
    QString text;
    QTextStream out(&text);
    out << "nx7setup prepara e configura i totem NX7 Totem di una sede: le cartelle server e di\n"
           "postazione, il database PostgreSQL, i servizi e l'aspetto dello schermo, la voce, e\n"
           "mostra l'anteprima del biglietto.\n\n"
           "Uso:\n";
    for (const Command &command : commands)
        out << "  " << command.usage() << "\n";
    out << "\nComandi:\n";
    for (const Command &command : commands)
        out << "  " << command.name.leftJustified(16) << command.summary << "\n";
    out << "\nOpzioni di tutti i comandi:\n"
           "  --help, -h      questo aiuto (dopo un comando: l'aiuto di quel comando)\n"
           "  --version       la versione\n";
    return text;
}

QString commandHelp(const Command &command)
{
    return QStringLiteral("Uso: %1\n\n%2\n").arg(command.usage(), command.details);
}

} // namespace nx7::Setup
