// Data members are written as Base64 text straight into the encoder's output (pictures make
// up most of a document's bytes): the text must be exactly the standard padded form.

#include "model/JSONEncoder.h"
#include "tests/model/CodingTestClasses.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::TestNode;

TEST(JSONEncoderData, EveryLengthAndByteValueIsTheStandardPaddedBase64)
{
    QByteArray allValues;
    for (int i = 0; i < 256; ++i)
        allValues.append(char(i));
    const QByteArray cases[] = {
        QByteArray(""),      QByteArray("f"),         QByteArray("fo"), QByteArray("foo"),
        QByteArray("foob"),  QByteArray("fooba"),     allValues,        allValues + allValues.left(1),
        allValues.left(254), QByteArray(5000, '\xff')};
    for (const QByteArray& data : cases) {
        SCOPED_TRACE(testing::Message() << "length " << data.size());
        auto node = TestNode::make();
        node->data = data;
        JSONEncoder encoder;
        ASSERT_TRUE(encoder.encodeTopObject(node)) << encoder.errorString().toStdString();
        const auto text = encoder.data();
        ASSERT_TRUE(text.has_value());
        const QByteArray expected = "{\"data\":\"" + data.toBase64() + "\"}";
        EXPECT_EQ(*text, expected);
    }
}
