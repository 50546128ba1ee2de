#pragma once

#include <QIcon>

namespace vellork {

// The program's icon with a picture drawn for every size it comes in, so that title bars, task
// switchers and scaled screens each get one made for their size instead of a stretched one.
QIcon programIcon();

}  // namespace vellork
