#include "app/MainClass.h"

int main(int argc, char** argv) {
    MainClass* program = new MainClass();
    program->main(argc, argv);
    delete program;
    return 0;
}
