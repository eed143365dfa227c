"""morvex: the score of depth maps of a stereo pair, on numpy arrays, with the
library the command line runs; morvex.eval evaluates whole datasets."""

from ._native import (Camera, Result, ViewResult, __version__, combine_view_errors, depth_to_disparity,
                      disparity_to_depth, evaluate_view, score)

__all__ = ["Camera", "Result", "ViewResult", "combine_view_errors", "depth_to_disparity", "disparity_to_depth",
           "evaluate_view", "score"]
