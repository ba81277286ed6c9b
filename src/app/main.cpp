#include "ui/shell/fotivela_app.h"

#ifndef FOTIVELA_VERSION
#define FOTIVELA_VERSION ""
#endif

int main(int argc, char** argv)
{
    return fotivela::FotivelaApp::main(argc, argv, FOTIVELA_VERSION);
}
