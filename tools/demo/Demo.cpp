#include "tools/demo/Demo.h"

#include "app/Ormelix.h"
#include "app/Unit1.h"
#include "tools/demo/VirtualBench.h"
#include "widgets/RXSpin.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>

void DemoAutoConnect(TOrmelix_Control_Form& Form) {
    Form.RxSpinEdit_mark1->SetValue(DemoMarker1);
    Form.RxSpinEdit_mark2->SetValue(DemoMarker2);
    Form.CheckBox1->setChecked(true);
}

int DemoMain(int argc, char** argv, bool AutoConnect) {
    if (!DisplayAvailable(argc > 0 ? argv[0] : "ormelix-demo")) return 1;
    QApplication app(argc, argv);
    PrepareOrmelixApplication(app);
    int code = 0;
    {
        // The bench installs the simulated platform, so it comes before the window.
        VirtualBench bench;
        TOrmelix_Control_Form form;
        TVirtualBenchWindow window(bench);
        // Closing the console ends the demo; the bench alone does not keep it running.
        window.setAttribute(Qt::WA_QuitOnClose, false);
        form.show();
        window.PlaceBeside(form);
        window.show();
        // Once a window manager has framed the console, its frame is known: place again.
        QTimer::singleShot(300, &window, [&window, &form] { window.PlaceBeside(form); });
        // Nothing in the demo reads the simulated platform's transfer log: keep it from growing
        // for as long as the demo runs.
        QTimer logTrim;
        QObject::connect(&logTrim, &QTimer::timeout, [&bench] { bench.Sim().ClearLogs(); });
        logTrim.start(10000);
        if (AutoConnect) {
            // After the controller's first device scan, which the event loop runs first.
            QTimer::singleShot(400, &form, [&form] { DemoAutoConnect(form); });
        }
        code = app.exec();
    }
    SnapshotFolder.clear();
    return code;
}
