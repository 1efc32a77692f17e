#include "model/ModelCodables.h"

#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/PortableImage.h"
#include "platform/core/Coder.h"
#include "platform/core/OnceGuard.h"

namespace corvex {

void registerModelCodables()
{
    static OnceGuard once;
    once.run([] {
        CodableRegistry::registerClass(
            QStringLiteral("Idea"), [](Decoder& coder) -> CodablePtr { return Idea::initWithCoder(coder); });
        CodableRegistry::registerClass(QStringLiteral("IconImage"), [](Decoder& coder) -> CodablePtr {
            return IconImage::initWithCoder(coder);
        });
        CodableRegistry::registerClass(QStringLiteral("PortableImage"), [](Decoder& coder) -> CodablePtr {
            return PortableImage::initWithCoder(coder);
        });
    });
}

} // namespace corvex
