#include "keypadkeys.h"

namespace nx7 {

std::optional<AccessKey> accessKeyFor(int key)
{
    switch (key) {
    case Qt::Key_Down:
    case Qt::Key_Right:
    case Qt::Key_2:
    case Qt::Key_6:
        return AccessKey::Next;
    case Qt::Key_Up:
    case Qt::Key_Left:
    case Qt::Key_8:
    case Qt::Key_4:
        return AccessKey::Previous;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_5:
    case Qt::Key_Clear: // keypad 5 with Num Lock off
        return AccessKey::Take;
    case Qt::Key_Asterisk:
    case Qt::Key_F1:
        return AccessKey::Help;
    case Qt::Key_Plus:
        return AccessKey::VolumeUp;
    case Qt::Key_Minus:
        return AccessKey::VolumeDown;
    case Qt::Key_Slash:
        return AccessKey::Contrast;
    default:
        return std::nullopt;
    }
}

} // namespace nx7
