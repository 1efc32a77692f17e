#pragma once

#include "platform/ui/FilePanelRunner.h"

namespace corvex {

// The application's open and save panels: a QFileDialog opened window-modally on the window's
// host (QFileDialog::open, which does not block), with the allowed types as its name filter and
// the panel's folder; a save panel also proposes the name, adds the first type as the default
// suffix and asks before replacing a file. The completion is answered once the dialog ended;
// a dialog destroyed without ending (its window closed) answers Cancel.
class QtFilePanelRunner final : public FilePanelRunner
{
protected:
    void present(const OpenPanel& panel, Window* window, Reply reply) override;
    void presentSave(const SavePanel& panel, Window* window, Reply reply) override;
};

} // namespace corvex
