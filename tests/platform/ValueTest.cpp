// Automation values keep their types; wrong conversions are type mismatches.
#include "Automation.h"
#include "Failure.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(Value, KeepsTypeAndWidth)
{
    EXPECT_EQ(Value().type(), Value::Type::Empty);
    EXPECT_EQ(Value::boolean(true).type(), Value::Type::Bool);
    EXPECT_EQ(Value::int16(1).type(), Value::Type::Int16);
    EXPECT_EQ(Value::int32(1).type(), Value::Type::Int32);
    EXPECT_EQ(Value::real(0.5).type(), Value::Type::Double);
    EXPECT_EQ(Value(QStringLiteral("x")).type(), Value::Type::Text);
    EXPECT_FALSE(Value::int16(1) == Value::int32(1));
    EXPECT_EQ(Value::int16(-3).toInt32(), -3); // widening is allowed
    EXPECT_EQ(Value::boolean(true).toText(), QStringLiteral("True"));
}

TEST(Value, NarrowingOrForeignConversionsAreTypeMismatches)
{
    const auto number = [](auto f) {
        try {
            f();
        } catch (const Failure& e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(number([] { Value::int32(1).toInt16(); }), failure::kTypeMismatch);
    EXPECT_EQ(number([] { Value(QStringLiteral("1")).toInt32(); }), failure::kTypeMismatch);
    EXPECT_EQ(number([] { Value::int16(1).toBool(); }), failure::kTypeMismatch);
    EXPECT_EQ(number([] { Value(QStringLiteral("x")).toObject(); }), failure::kObjectRequired);
}
