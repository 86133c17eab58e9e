// The time helpers of the base library: this module holds no operation.
