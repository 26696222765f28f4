#pragma once
// `unplot convert`: the conversion window's job logic driven from the command line, on a QCoreApplication.

#include <QStringList>

namespace unplot {

class ConvertCommand {
public:
    // `arguments` are those that follow "convert". Returns the exit status: 0 when every file was converted and
    // saved, 1 when any was not, 2 for a usage error.
    static int run(const QStringList& arguments);
};

}  // namespace unplot
