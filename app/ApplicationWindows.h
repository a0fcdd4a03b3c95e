#pragma once
// Every window of the program, created at start in the order the program
// has always used (members are constructed in declaration order) and alive
// for the whole run.
#include "app/CalibrationForm.h"
#include "app/HistoForm.h"
#include "app/MainForm.h"
#include "app/OptimizationForm.h"

struct ApplicationWindows {
    TMainForm mainForm;
    TCAM2Form cam2Form;
    THistoForm histoForm;
    TCAM3Form cam3Form;
    TCAM1Form cam1Form;
    TOptimizationForm optimisationForm;

    ApplicationWindows() {
        // "Nastavit" of a calibration or the optimisation window fills the main window's fields.
        for (TCalibrationForm* calibration :
             {static_cast<TCalibrationForm*>(&cam1Form), static_cast<TCalibrationForm*>(&cam2Form),
              static_cast<TCalibrationForm*>(&cam3Form)})
            calibration->SetMainWindow(&mainForm);
        optimisationForm.SetMainWindow(&mainForm);
        mainForm.SetSecondaryWindows(&cam1Form, &cam2Form, &cam3Form, &optimisationForm);
        mainForm.ResizeToScreen(); // 1880 x 960 where the screen has room
    }

    // The optimisation window is created visible; the main window shows when
    // the event loop starts; the others wait until they are asked for.
    void ShowAtStart() {
        optimisationForm.show();
        mainForm.show();
    }
};
