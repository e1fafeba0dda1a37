#pragma once
// The checker program: runs its main dialog modally and ends when it closes.
class CWatermarkApp {
public:
    // Always false: the program ends once the dialog has closed.
    bool InitInstance();
};
