#include "app/startup.h"

int main(int argc, char** argv) { return ktr::app::run_main(argc, argv); }
