GOselect 1 from rdb$database GO
select 'never closed GO
/* and a comment
