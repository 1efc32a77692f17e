#include "mindmap/ExportAndPrintSeams.h"

namespace corvex {

namespace {

ExportScreen::Factory& exportScreenFactorySlot()
{
    static ExportScreen::Factory factory;
    return factory;
}

MapPrinter::Factory& mapPrinterFactorySlot()
{
    static MapPrinter::Factory factory;
    return factory;
}

} // namespace

ExportScreenDelegate::~ExportScreenDelegate() = default;

void ExportScreen::setFactory(Factory factory)
{
    exportScreenFactorySlot() = std::move(factory);
}

std::shared_ptr<ExportScreen> ExportScreen::create(const IdeaPtr& root, StorageLocation location,
                                                   const QDateTime& lastModified)
{
    return exportScreenFactorySlot() ? exportScreenFactorySlot()(root, location, lastModified) : nullptr;
}

MapPrinter::~MapPrinter() = default;

void MapPrinter::setFactory(Factory factory)
{
    mapPrinterFactorySlot() = std::move(factory);
}

std::shared_ptr<MapPrinter> MapPrinter::create(const IdeaPtr& root, const QDateTime& lastModified)
{
    return mapPrinterFactorySlot() ? mapPrinterFactorySlot()(root, lastModified) : nullptr;
}

} // namespace corvex
