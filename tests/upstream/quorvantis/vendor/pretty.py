def pretty(obj):
    """A readable text for ``obj``: functions by their description, else repr."""
    from quorvantis.internal.reflection import get_pretty_function_description, is_plain_function

    if is_plain_function(obj):
        return get_pretty_function_description(obj)
    return repr(obj)
