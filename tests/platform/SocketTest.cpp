#include "support/TestSupport.h"
#include <gtest/gtest.h>
TEST(Socket, Placeholder_Builds)
{
    EXPECT_NE(FreePort(), 0);
}
