⍝ The APL text of the library's rank operator, compiled, against the built-in
⍝ one: the cell ranks are the operator's array operand, a constant or a variable.
⍝ MAIN: RANKS
∇RANKS;M;V;K
M←2 3⍴⍳6
V←10 20 30
K←1
⎕←(⊂ RANKOP 1) M
⎕←(⊂⍤1) M
⎕←V (+ RANKOP K) M
⎕←V (+⍤1) M
⎕←(⌽ RANKOP K) M
⎕←(⌽⍤1) M
K←0
⎕←(⊂ RANKOP K) M
⎕←(⊂⍤0) M
∇
∇Z←L (F RANKOP X) R
→(0≠⎕NC 'L')/4
Z←⊃ F¨ ⊂[(-X)↑⍳⍴⍴R] R
→0
Z←⊃ (⊂[(-↑X)↑⍳⍴⍴L] L) F¨ ⊂[(-¯1↑X)↑⍳⍴⍴R] R
∇
