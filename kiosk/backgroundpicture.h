#pragma once

#include <QString>
#include <QStringList>

namespace nx7 {

// Why the background picture named by the configuration could not be shown, and what the
// operator is told about it.
namespace BackgroundPicture {

enum class Fault
{
    NotFound, // no readable file at that path (or the share that holds it is gone)
    TooLarge, // a picture whose pixels exceed what the kiosk decodes
    Corrupt,  // a file that is no picture of a format the kiosk reads, or a damaged one
};

// The cause, asked of the file once loading it has failed.
Fault faultOf(const QString &path);
// The three lines of the message form.
QStringList messageLines(Fault fault);
// The cause in the log's words.
QString logWord(Fault fault);

} // namespace BackgroundPicture
} // namespace nx7
