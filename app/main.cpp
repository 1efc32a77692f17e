#include "editor/IdeaEditorFactory.h"
#include "editor/ViewerEditorFactory.h"
#include "export/ImageExporter.h"
#include "export/SharingViewController.h"
#include "home/HomeRegistration.h"
#include "overview/OverviewRegistration.h"
#include "overview/PrintedMapPrinter.h"
#include "shell/ShellMain.h"
#include "webpage/QtWebPageView.h"

int main(int argc, char** argv)
{
    return corvex::applicationMain(argc, argv, [] {
        corvex::registerHomeScreen();
        corvex::registerIdeaEditors();
        corvex::registerViewerEditors();
        corvex::registerWebPageView();
        corvex::registerOverviewGraph();
        corvex::registerMapPrinter();
        corvex::registerWebExportPreview();
        corvex::registerExportScreen();
    });
}
