"""nolt's native engine module: private, called only by nolt._api."""

from collections.abc import Sequence
from typing import Literal, overload

from nolt.types import ColumnTuple, DatasetProfile, DetailedProfile

@overload
def profile(columns: Sequence[ColumnTuple], details: Literal[False] = False, /) -> DatasetProfile: ...
@overload
def profile(columns: Sequence[ColumnTuple], details: Literal[True], /) -> DetailedProfile: ...
