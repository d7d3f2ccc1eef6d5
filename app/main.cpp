#include <QApplication>

#include "Form1.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    app::Form1 form;
    form.show();
    return QApplication::exec();
}
