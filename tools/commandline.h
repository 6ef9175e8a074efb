#pragma once

#include "errors.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <variant>

namespace nx7::Setup {

// What was given to one subcommand: its arguments in order and its options by name.
struct Invocation
{
    QStringList arguments;
    QHash<QString, QString> options; // "--servizi 6" and "--servizi=6" alike, without "--"

    bool has(const QString &option) const { return options.contains(option); }
    QString value(const QString &option) const { return options.value(option); }
    // The option as a whole number from `min` to `max`; `fallback` when not given. The
    // error names the option, the value and the range.
    Result<int> number(const QString &option, int min, int max, int fallback) const;
};

// A usage error of the technician's: told with the subcommand's usage, exit code 2.
struct UsageError
{
    QString text;
};

// One subcommand of the tool.
struct Command
{
    QString name;
    QString arguments;         // "CARTELLA [--servizi N]": the usage after the name
    QString summary;           // one line for the list of subcommands
    QString details;           // what it does, for "nx7setup NAME --help"
    QStringList valueNames;    // options that take a value
    QStringList flagNames;     // options that take none
    int argumentCount = 1;     // the least
    QStringList argumentNames; // named in "manca ..." when missing
    std::function<int(const Invocation &)> run;
    bool moreArguments = false; // any number of arguments after those

    QString usage() const;
};

// Splits the words after the subcommand; an error names the word at fault.
std::variant<Invocation, UsageError> parseArguments(const Command &command,
                                                    const QStringList &words);

// The text printed on a usage error: the reason, the subcommand's usage, where the help is.
QString usageErrorText(const Command &command, const QString &reason);

// The full help: what the tool is and every subcommand's usage and summary.
QString toolHelp(const QList<Command> &commands);
// The help of one subcommand.
QString commandHelp(const Command &command);

} // namespace nx7::Setup
