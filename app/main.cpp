// ravlin: the desktop program.
#include "app/init_instance.h"

int main(int argc, char** argv) {
    return tovarek::InitInstance(argc, argv);
}
